#include "tests/support/Substitute.h"

substitute::Options SubstituteOptions(const QString& certFile, const QString& keyFile)
{
    substitute::Options options;
    options.CertFile = certFile.toStdString();
    options.KeyFile = keyFile.toStdString();
    options.Username = kTestUsername;
    options.Password = kTestPassword;
    return options;
}

substitute::Options SubstituteOptions(const TestPki& pki, int port)
{
    substitute::Options options = SubstituteOptions(pki.ServerCert, pki.ServerKey);
    options.Port = port;
    return options;
}

substitute::ScriptedAnswer JsonAnswer(std::string body, int status)
{
    substitute::ScriptedAnswer answer;
    answer.Status = status;
    answer.Body = std::move(body);
    return answer;
}

substitute::ScriptedAnswer ResultAnswer(const std::string& resultJson)
{
    return JsonAnswer(R"({"error":"","result":)" + resultJson + "}");
}

substitute::ScriptedAnswer Accepted(const std::string& idCoda)
{
    return ResultAnswer(R"({"Error":"","Valido":"S","IdCodaInvio_1":")" + idCoda + R"("})");
}

substitute::ScriptedAnswer Refused(const std::string& error)
{
    return ResultAnswer(R"({"Error":")" + error + R"(","Valido":"N"})");
}

substitute::ScriptedAnswer DroppedConnection()
{
    substitute::ScriptedAnswer answer;
    answer.DropConnection = true;
    return answer;
}
