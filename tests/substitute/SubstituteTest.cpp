// The substitute over real HTTPS, with a client that trusts the test CA only (libcurl, as the
// application itself uses): what the client tests build on has to hold here first.

#include "tests/support/Substitute.h"
#include "substitute/SubstituteBackend.h"
#include "substitute/SubstituteForms.h"
#include "tests/substitute/CurlTestClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <memory>

namespace {

using substitute::Backend;
using substitute::ScriptedAnswer;

QJsonObject Json(const std::string& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

// The multipart body of an upload, laid out byte for byte as the application sends it.
std::string UploadBody(const std::string& boundary, const std::string& fileName, const std::string& content,
                       const std::string& inversa = "N")
{
    const auto text = [&](const std::string& name, const std::string& value) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
               "\r\n";
    };
    return text("QELT_REQ", "FAESendXml") + text("QELT_RESPONSE_FORMAT", "JSON") + "--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"PathFileXml\"; filename=\"" + fileName +
           "\"\r\nContent-Type: application/xml\r\n\r\n" + content + "\r\n" +
           text("FatturaInversa", inversa) + "--" + boundary + "--\r\n";
}

CurlRequest Upload(const std::string& fileName, const std::string& content)
{
    CurlRequest request;
    request.ContentType = "multipart/form-data; boundary=-----VORN0123ABCD";
    request.Body = UploadBody("-----VORN0123ABCD", fileName, content);
    return request;
}

CurlRequest Form(const std::string& body)
{
    CurlRequest request;
    request.Body = body;
    return request;
}

const std::string kInvoiceXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<FatturaElettronica><FatturaElettronicaBody><DatiGenerali><DatiGeneraliDocumento>"
    "<Numero>15</Numero></DatiGeneraliDocumento></DatiGenerali></FatturaElettronicaBody>"
    "</FatturaElettronica>\n";

class SubstituteBackend : public testing::Test
{
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    SubstituteBackend() : FBackend(Options()) {}

    // The curl client's credentials, whose password is not ASCII.
    static substitute::Options Options()
    {
        substitute::Options options = SubstituteOptions();
        options.Username = kUser;
        options.Password = kPassword;
        return options;
    }

    CurlAnswer Send(const CurlRequest& request) { return Perform(FBackend.Port(), request); }

    QJsonObject Result(const CurlRequest& request)
    {
        const CurlAnswer answer = Send(request);
        EXPECT_EQ(answer.Code, CURLE_OK);
        EXPECT_EQ(answer.Status, 200) << answer.Body;
        const QJsonObject json = Json(answer.Body);
        EXPECT_EQ(json.value("error").toString(), "") << answer.Body;
        return json.value("result").toObject();
    }

    Backend FBackend;
};

TEST_F(SubstituteBackend, RefusesWrongOrMissingCredentials)
{
    for (const std::string& credentials : {std::string(kUser) + ":wrong", std::string("other:") + kPassword,
                                           std::string(kUser) + kPassword, std::string()}) {
        SCOPED_TRACE(credentials);
        CurlRequest request = Form("QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
        request.UserPassword = credentials;
        const CurlAnswer answer = Send(request);
        ASSERT_EQ(answer.Code, CURLE_OK);
        EXPECT_EQ(answer.Status, 401);
        EXPECT_EQ(answer.StatusLine, "HTTP/1.1 401 Unauthorized");
        EXPECT_FALSE(Json(answer.Body).value("error").toString().isEmpty());
    }
    EXPECT_EQ(FBackend.Requests().size(), 4u); // refused requests are recorded too
}

TEST_F(SubstituteBackend, RecordsAFormRequestAndAnswersIt)
{
    const QJsonObject result =
        Result(Form("QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON&note=a+b%26c"));
    EXPECT_EQ(result.value("Database").toString(), "STUDIO");
    EXPECT_EQ(result.value("Esito").toString(), "OK");
    EXPECT_EQ(result.value("Tipologia").toString(), "aziende");

    const auto requests = FBackend.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const substitute::ReceivedRequest& r = requests[0];
    EXPECT_EQ(r.Method, "POST");
    EXPECT_EQ(r.Path, kEndpoint);
    EXPECT_EQ(r.FirmType, "aziende");
    EXPECT_EQ(r.Body, "QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON&note=a+b%26c");
    EXPECT_EQ(r.Field("note"), "a b&c");
    EXPECT_EQ(r.Header("content-type"), "application/x-www-form-urlencoded; charset=UTF-8");
    // Headers keep their order of arrival: our Content-Type was set before Authorization.
    std::vector<std::string> names;
    for (const auto& header : r.Headers)
        names.push_back(header.first);
    const auto contentType = std::find(names.begin(), names.end(), "Content-Type");
    const auto authorization = std::find(names.begin(), names.end(), "Authorization");
    ASSERT_NE(authorization, names.end());
    EXPECT_LT(contentType, authorization);
}

TEST_F(SubstituteBackend, UnknownRequestIsRefusedInTheTopLevelError)
{
    const CurlAnswer answer = Send(Form("QELT_REQ=FAEAltro&QELT_RESPONSE_FORMAT=JSON"));
    ASSERT_EQ(answer.Code, CURLE_OK);
    EXPECT_EQ(answer.Status, 200);
    EXPECT_EQ(answer.Body, R"({"error":"Richiesta non riconosciuta: FAEAltro"})");
}

TEST_F(SubstituteBackend, StoresAWellFormedUploadUnderANewQueueId)
{
    for (const std::string expectedId : {"1", "2"}) {
        const QJsonObject result =
            Result(Upload("IT01234567890_0000" + expectedId + "%20è.xml", kInvoiceXml));
        EXPECT_EQ(result.value("Error").toString(), "");
        EXPECT_EQ(result.value("Valido").toString(), "S");
        EXPECT_EQ(result.value("IdCodaInvio_1").toString().toStdString(), expectedId);
    }
    const auto invoices = FBackend.Invoices();
    ASSERT_EQ(invoices.size(), 2u);
    EXPECT_EQ(invoices[1].IdCoda, "2");
    EXPECT_EQ(invoices[1].FileName, "IT01234567890_00002%20è.xml"); // exactly as between the quotes
    EXPECT_EQ(invoices[1].Content, kInvoiceXml);
    EXPECT_EQ(invoices[1].FatturaInversa, "N");
    const auto requests = FBackend.Requests();
    ASSERT_EQ(requests.back().Files.size(), 1u);
    EXPECT_EQ(requests.back().Files[0].ContentType, "application/xml");
    EXPECT_EQ(requests.back().Field("FatturaInversa"), "N");
    EXPECT_EQ(requests.back().Body,
              UploadBody("-----VORN0123ABCD", "IT01234567890_00002%20è.xml", kInvoiceXml));
}

TEST_F(SubstituteBackend, RefusesUploadsThatAreNotInvoicesInTheResult)
{
    const std::pair<std::string, std::string> refused[] = {
        {"rotta.xml", "<FatturaElettronica><Numero>1</FatturaElettronica>"},
        {"vuota.xml", ""},
        {"firmata.xml.p7m", "<?xml version=\"1.0\"?><a/>"},
        {"troncata.p7m", std::string("\x30\x05\x02\x01\x00", 5)},
        {"fattura.pdf", "%PDF-1.4"},
    };
    for (const auto& [name, content] : refused) {
        SCOPED_TRACE(name);
        const QJsonObject result = Result(Upload(name, content));
        EXPECT_TRUE(result.value("Error").toString().contains(QString::fromStdString(name)))
            << result.value("Error").toString().toStdString();
        EXPECT_EQ(result.value("IdCodaInvio_1").toString(), "");
    }
    EXPECT_TRUE(FBackend.Invoices().empty());

    const QJsonObject signedOk = Result(Upload("firmata.xml.p7m", std::string("\x30\x03\x02\x01\x00", 5)));
    EXPECT_EQ(signedOk.value("Error").toString(), "");
    EXPECT_EQ(FBackend.Invoices().size(), 1u);
}

TEST_F(SubstituteBackend, SearchesPagesAndUpdatesTheIssuedInvoices)
{
    for (int i = 0; i < 3; ++i)
        Result(Upload("f" + std::to_string(i) + ".xml", kInvoiceXml));
    const std::string search =
        "QELT_REQ=FAEAttivaSearch&QELT_RESPONSE_FORMAT=JSON&RisultatiLimite=2&RisultatiOffset=1";
    QJsonObject page = Result(Form(search));
    EXPECT_EQ(page.value("NumeroTotale").toString(), "3");
    QJsonArray invoices = page.value("seq_FATTURE").toArray();
    ASSERT_EQ(invoices.size(), 2);
    EXPECT_EQ(invoices[0].toObject().value("IdFattura").toString(), "2");
    EXPECT_EQ(invoices[1].toObject().value("IdFattura").toString(), "3");
    EXPECT_EQ(invoices[0].toObject().value("FatturaNumero").toString(), "15");
    EXPECT_EQ(invoices[0].toObject().size(), 22);

    const QJsonObject update =
        Result(Form("QELT_REQ=FAEAggiornaStato&QELT_RESPONSE_FORMAT=JSON&idcoda=2&CodiceStato=03"));
    EXPECT_EQ(update.value("Esito").toString(), "OK");
    const QJsonObject unknown =
        Result(Form("QELT_REQ=FAEAggiornaStato&QELT_RESPONSE_FORMAT=JSON&idcoda=2&CodiceStato=99"));
    EXPECT_EQ(unknown.value("Esito").toString(), "KO");
    EXPECT_FALSE(unknown.value("Error").toString().isEmpty());

    page = Result(
        Form("QELT_REQ=FAEAttivaSearch&QELT_RESPONSE_FORMAT=JSON&CodiceStatoGestionale=03&FatturaDaId=1"));
    invoices = page.value("seq_FATTURE").toArray();
    ASSERT_EQ(invoices.size(), 1);
    EXPECT_EQ(invoices[0].toObject().value("IdFattura").toString(), "2");
    EXPECT_EQ(invoices[0].toObject().value("StatoGestionale").toString(), "Elaborata");

    const QJsonObject document =
        Result(Form("QELT_REQ=FAEGetXmlbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=3&TipoFileOut=base64"));
    EXPECT_FALSE(document.contains("Error"));
    std::string content;
    ASSERT_TRUE(substitute::Base64Decode(document.value("FileBase64").toString().toStdString(), content));
    EXPECT_EQ(content, kInvoiceXml);
    EXPECT_EQ(document.value("NomeFileBase64").toString(), "f2.xml");
}

TEST_F(SubstituteBackend, AnswersTheReceivedInvoicesAndTheRegistry)
{
    const QJsonObject received =
        Result(Form("QELT_REQ=FAEPassivaSearch&QELT_RESPONSE_FORMAT=JSON&RisultatiOrdinamentoInverso=S"
                    "&RisultatiLimite=-1"));
    EXPECT_EQ(received.value("NumeroTotale").toString(), "3");
    const QJsonArray invoices = received.value("seq_FATTURE").toArray();
    ASSERT_EQ(invoices.size(), 3);
    EXPECT_EQ(invoices[0].toObject().value("IdFattura").toString(), "900003");
    EXPECT_EQ(invoices[0].toObject().size(), 19);

    const QJsonObject status =
        Result(Form("QELT_REQ=FAEGetStatusbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=900001"));
    EXPECT_EQ(status.value("idfattura").toString(), "900001");
    EXPECT_EQ(status.value("seq_NOTIFICA").toArray().size(), 1);
    const CurlAnswer missing = Send(Form("QELT_REQ=FAEGetStatusbyId&QELT_RESPONSE_FORMAT=JSON&idcoda=42"));
    EXPECT_EQ(Json(missing.Body).value("error").toString(), "Fattura non trovata: 42");

    const QJsonObject known = Result(Form(
        "QELT_REQ=GetCodiceSoggetto&QELT_RESPONSE_FORMAT=JSON&IN_CodiceFiscaleSoggetto=RSSMRA80A01H501U"));
    EXPECT_EQ(known.value("RESU").toString(), "S");
    EXPECT_FALSE(known.value("CodiceSoggetto").toString().isEmpty());
    const QJsonObject unknown =
        Result(Form("QELT_REQ=GetCodiceSoggetto&QELT_RESPONSE_FORMAT=JSON&IN_CodiceFiscaleSoggetto=XXXYYY"));
    EXPECT_EQ(unknown.value("RESU").toString(), "N");
    EXPECT_TRUE(unknown.value("Error").toString().contains("XXXYYY"));
}

TEST_F(SubstituteBackend, ServesScriptedAnswersFirstInOrder)
{
    ScriptedAnswer unavailable;
    unavailable.Status = 503;
    unavailable.Reason = "Servizio non disponibile";
    unavailable.Body = "<html>down</html>";
    unavailable.ContentType = "text/html";
    FBackend.PushAnswer(unavailable);
    ScriptedAnswer latin1;
    latin1.ContentType = "application/json; charset=ISO-8859-1";
    latin1.Body = "{\"error\":\"Citt\xE0\"}";
    FBackend.PushAnswer(latin1);

    const CurlRequest request = Form("QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
    const CurlAnswer first = Send(request);
    EXPECT_EQ(first.StatusLine, "HTTP/1.1 503 Servizio non disponibile");
    EXPECT_EQ(first.Body, "<html>down</html>");
    const CurlAnswer second = Send(request);
    EXPECT_EQ(second.Status, 200);
    EXPECT_EQ(second.Body, "{\"error\":\"Citt\xE0\"}");
    EXPECT_NE(std::find(second.HeaderLines.begin(), second.HeaderLines.end(),
                        "Content-Type: application/json; charset=ISO-8859-1"),
              second.HeaderLines.end());
    EXPECT_EQ(Json(Send(request).Body).value("result").toObject().value("Esito").toString(), "OK");
}

TEST_F(SubstituteBackend, GzipsAScriptedAnswer)
{
    ScriptedAnswer zipped;
    zipped.Body = std::string(R"({"error":"","result":{"x":")") + std::string(5000, 'a') + "\"}}";
    zipped.Gzip = true;
    FBackend.PushAnswer(zipped);
    CurlRequest request = Form("QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
    request.DecodeGzip = true;
    const CurlAnswer answer = Send(request);
    ASSERT_EQ(answer.Code, CURLE_OK);
    EXPECT_EQ(answer.Body, zipped.Body);
    EXPECT_NE(std::find(answer.HeaderLines.begin(), answer.HeaderLines.end(), "Content-Encoding: gzip"),
              answer.HeaderLines.end());
    const std::string length = "Content-Length: " + std::to_string(zipped.Body.size());
    EXPECT_EQ(std::find(answer.HeaderLines.begin(), answer.HeaderLines.end(), length),
              answer.HeaderLines.end())
        << "the body went uncompressed";
}

TEST_F(SubstituteBackend, FailuresOfTheConnectionReachTheClient)
{
    ScriptedAnswer dropped;
    dropped.DropConnection = true;
    FBackend.PushAnswer(dropped);
    ScriptedAnswer late;
    late.Delay = std::chrono::milliseconds(2000);
    FBackend.PushAnswer(late);
    ScriptedAnswer truncated;
    truncated.Headers = {{"Content-Length", "100"}};
    truncated.Body = R"({"error":"")";
    FBackend.PushAnswer(truncated);

    CurlRequest request = Form("QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
    const CurlAnswer droppedAnswer = Send(request);
    EXPECT_NE(droppedAnswer.Code, CURLE_OK);
    EXPECT_EQ(droppedAnswer.Status, 0);
    request.TimeoutMs = 300;
    EXPECT_EQ(Send(request).Code, CURLE_OPERATION_TIMEDOUT);
    request.TimeoutMs = 10000;
    EXPECT_EQ(Send(request).Code, CURLE_PARTIAL_FILE);
    // After all that the server still answers.
    EXPECT_EQ(Result(request).value("Esito").toString(), "OK");
}

TEST_F(SubstituteBackend, ClientsValidateItsCertificate)
{
    // Our CA vouches for these names only; a client trusting another CA must refuse the server.
    CurlRequest request = Form("QELT_REQ=VR_CheckDatabase&QELT_RESPONSE_FORMAT=JSON");
    for (const char* host : {"localhost", "professionisti.localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        request.Host = host;
        EXPECT_EQ(Send(request).Code, CURLE_OK);
    }
    request.Host = "localhost";
    EXPECT_EQ(Perform(FBackend.Port(), request, SharedTestPki().OtherCaFile).Code,
              CURLE_PEER_FAILED_VERIFICATION);

    const TestPki& pki = SharedTestPki();
    Backend wrongName({pki.WrongNameCert.toStdString(), pki.WrongNameKey.toStdString(), kUser, kPassword});
    EXPECT_EQ(Perform(wrongName.Port(), request).Code, CURLE_PEER_FAILED_VERIFICATION);
    Backend untrusted(
        {pki.OtherCaServerCert.toStdString(), pki.OtherCaServerKey.toStdString(), kUser, kPassword});
    EXPECT_EQ(Perform(untrusted.Port(), request).Code, CURLE_PEER_FAILED_VERIFICATION);
}

TEST_F(SubstituteBackend, ListsWhatItReceived)
{
    Result(Upload("IT01234567890_00001.xml", kInvoiceXml));
    CurlRequest list;
    list.Get = true;
    list.Path = "/substitute/received";
    const CurlAnswer answer = Send(list);
    ASSERT_EQ(answer.Code, CURLE_OK);
    const QJsonArray items = QJsonDocument::fromJson(QByteArray::fromStdString(answer.Body)).array();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].toObject().value("FileName").toString(), "IT01234567890_00001.xml");
    EXPECT_EQ(items[0].toObject().value("Size").toInt(), static_cast<int>(kInvoiceXml.size()));
}

} // namespace
