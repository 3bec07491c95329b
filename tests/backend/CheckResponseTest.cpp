// The check every answer passes, fed real answers over HTTPS: status, gzip, charset, JSON and
// the top-level "error" member.

#include "tests/support/BackendTest.h"

#include <optional>
#include <zlib.h>

namespace {

// One gzip member of `data`, compressed here so that tests can also cut it short.
std::string Gzip(const std::string& data)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out(deflateBound(&stream, uLong(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

substitute::ScriptedAnswer WithHeaders(std::string body,
                                       std::vector<std::pair<std::string, std::string>> headers)
{
    substitute::ScriptedAnswer answer;
    answer.Headers = std::move(headers);
    answer.Body = std::move(body);
    return answer;
}

substitute::ScriptedAnswer InCharset(std::string body, std::string contentType)
{
    substitute::ScriptedAnswer answer = WithHeaders(std::move(body), {});
    answer.ContentType = std::move(contentType);
    return answer;
}

substitute::ScriptedAnswer GzipEncoded(std::string rawBody)
{
    return WithHeaders(std::move(rawBody), {{"Content-Encoding", "gzip"}});
}

substitute::ScriptedAnswer WithReason(int status, std::string reason)
{
    substitute::ScriptedAnswer answer = JsonAnswer(R"({"error":""})", status);
    answer.Reason = std::move(reason);
    return answer;
}

struct CheckCase
{
    const char* Name;
    substitute::ScriptedAnswer Answer;
    std::optional<QString> Failure; // none: the answer passes
};

const QString kNotFound = QStringLiteral("Value 'error' not found");
const QString kNotJson = QStringLiteral("Json non valido");

std::vector<CheckCase> Cases()
{
    const std::string latin1Refusal = "{\"error\":\"caff\xE8 freddo\"}";
    const std::string utf8Refusal = "{\"error\":\"caff\xC3\xA8 freddo\"}";
    const QString refusal = QStringLiteral("caffè freddo");
    std::string twoMembers = Gzip(R"({"error":)") + Gzip(R"("in due"})");
    std::string truncated = Gzip(R"({"error":"","result":{"IdCodaInvio_1":"4711"}})");
    truncated.resize(truncated.size() / 2);

    return {
        // Status first: a refusal's body is never looked at.
        {"401 with a JSON body", JsonAnswer(R"({"error":""})", 401), QStringLiteral("Unauthorized")},
        {"500 with an HTML body", JsonAnswer("<html>boom</html>", 500),
         QStringLiteral("Internal Server Error")},
        {"201 is no 200", WithReason(201, "Created"), QStringLiteral("Created")},
        {"the server's own phrase", WithReason(403, "Credenziali scadute"),
         QStringLiteral("Credenziali scadute")},
        {"no phrase at all", WithReason(502, ""), QString()},

        // Not JSON.
        {"empty body", JsonAnswer(""), kNotJson},
        {"HTML", JsonAnswer("<!DOCTYPE html><html><body>Manutenzione</body></html>"), kNotJson},
        {"trailing characters", JsonAnswer(R"({"error":""} x)"), kNotJson},
        {"a second value", JsonAnswer(R"({"error":""}{"error":""})"), kNotJson},
        {"truncated", JsonAnswer(R"({"error":"")"), kNotJson},
        {"byte order mark", JsonAnswer("\xEF\xBB\xBF{\"error\":\"\"}"), kNotJson},

        // Where "error" must be.
        {"empty object", JsonAnswer("{}"), kNotFound},
        {"empty array", JsonAnswer("[]"), kNotFound},
        {"top-level string", JsonAnswer(R"("error")"), kNotFound},
        {"top-level number", JsonAnswer("0"), kNotFound},
        {"only \"Error\"", JsonAnswer(R"({"Error":"rifiutata"})"), kNotFound},
        {"only a nested error", JsonAnswer(R"({"result":{"error":"x"}})"), kNotFound},

        // What "error" holds.
        {"empty", JsonAnswer(R"({"error":""})"), std::nullopt},
        {"only spaces", JsonAnswer(R"({"error":"   "})"), std::nullopt},
        {"only control characters", JsonAnswer(R"({"error":"\r\n\t\u0001\u001f"})"), std::nullopt},
        {"null", JsonAnswer(R"({"error":null})"), std::nullopt},
        {"whitespace after the object", JsonAnswer("{\"error\":\"\"} \r\n\t "), std::nullopt},
        {"number 0", JsonAnswer(R"({"error":0})"), QStringLiteral("0")},
        {"number keeps its literal", JsonAnswer(R"({"error":12.50})"), QStringLiteral("12.50")},
        {"false", JsonAnswer(R"({"error":false})"), QStringLiteral("false")},
        {"true", JsonAnswer(R"({"error":true})"), QStringLiteral("true")},
        {"object", JsonAnswer(R"({"error":{"code":1}})"),
         QStringLiteral("Conversion from TJSONObject to string is not supported")},
        {"array", JsonAnswer(R"({"error":["x"]})"),
         QStringLiteral("Conversion from TJSONArray to string is not supported")},
        {"message trimmed", JsonAnswer(R"({"error":" Credenziali errate\r\n"})"),
         QStringLiteral("Credenziali errate")},
        {"inner blanks stay", JsonAnswer(R"({"error":"\tuno  due\n"})"), QStringLiteral("uno  due")},
        {"duplicates: the first one counts (empty)", JsonAnswer(R"({"error":"","error":"second"})"),
         std::nullopt},
        {"duplicates: the first one counts (message)", JsonAnswer(R"({"error":"first","error":""})"),
         QStringLiteral("first")},

        // Gzip.
        {"gzip, accepted",
         [] {
             substitute::ScriptedAnswer a = JsonAnswer(R"({"error":"","result":{}})");
             a.Gzip = true;
             return a;
         }(),
         std::nullopt},
        {"gzip, refused",
         [] {
             substitute::ScriptedAnswer a = JsonAnswer(R"({"error":"compresso"})");
             a.Gzip = true;
             return a;
         }(),
         QStringLiteral("compresso")},
        {"gzip in two members", GzipEncoded(twoMembers), QStringLiteral("in due")},
        {"gzip header over a plain body", GzipEncoded(R"({"error":""})"),
         QStringLiteral("Risposta gzip non valida")},
        {"gzip cut short", GzipEncoded(truncated), QStringLiteral("Risposta gzip non valida: dati troncati")},
        {"gzip with trailing garbage", GzipEncoded(Gzip(R"({"error":""})") + "garbage"),
         QStringLiteral("Risposta gzip non valida")},
        {"Content-Encoding other than exactly gzip",
         WithHeaders(Gzip(R"({"error":""})"), {{"Content-Encoding", "GZIP"}}), kNotJson},

        // Charsets.
        {"ISO-8859-1", InCharset(latin1Refusal, "application/json; charset=ISO-8859-1"), refusal},
        {"iso-8859-1 quoted", InCharset(latin1Refusal, "application/json; charset=\"iso-8859-1\""), refusal},
        {"windows-1252", InCharset("{\"error\":\"\x80 5\"}", "application/json;charset=windows-1252"),
         QStringLiteral("€ 5")},
        {"UTF-16LE",
         InCharset(std::string("{\0\"\0e\0r\0r\0o\0r\0\"\0:\0\"\0\xE8\0\"\0}\0", 26),
                   "application/json; charset=UTF-16LE"),
         QStringLiteral("è")},
        {"utf-8", InCharset(utf8Refusal, "application/json; charset=utf-8"), refusal},
        {"UTF-8", InCharset(utf8Refusal, "application/json; charset=UTF-8"), refusal},
        {"Utf-8 quoted", InCharset(utf8Refusal, "application/json; charset=\"Utf-8\""), refusal},
        {"no charset", InCharset(utf8Refusal, "application/json"), refusal},
        {"no Content-Type", InCharset(utf8Refusal, ""), refusal},
        {"charset among other parameters",
         InCharset(latin1Refusal, "application/json; q=1; Charset=ISO-8859-1; x=y"), refusal},
        {"charset nobody knows: read as UTF-8", InCharset(utf8Refusal, "application/json; charset=x-ignota"),
         refusal},
        {"Latin-1 bytes said to be UTF-8", InCharset(latin1Refusal, "application/json; charset=utf-8"),
         kNotJson},
        // "utf8" is the same charset: no decoder may mend what the JSON reader refuses under "utf-8".
        {"Latin-1 bytes said to be utf8", InCharset(latin1Refusal, "application/json; charset=utf8"),
         kNotJson},
        {"byte order mark said to be UTF8",
         InCharset("\xEF\xBB\xBF{\"error\":\"\"}", "application/json; charset=\"UTF8\""), kNotJson},
    };
}

class CheckResponseTest : public BackendTest
{
};

} // namespace

TEST_F(CheckResponseTest, EveryOutcomeOfTheCheck)
{
    for (CheckCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        Backend.PushAnswer(c.Answer);
        if (!c.Failure) {
            std::unique_ptr<TJSONValue> answer;
            EXPECT_NO_THROW(answer = PostAndCheck());
            EXPECT_TRUE(answer && answer->GetKind() == TJSONValue::Kind::Object);
            continue;
        }
        const QString message = FailureOf([&] { PostAndCheck(); });
        if (c.Failure->startsWith(QStringLiteral("Risposta gzip")))
            EXPECT_TRUE(message.startsWith(*c.Failure)) << message.toStdString();
        else
            EXPECT_EQ(message, *c.Failure);
    }
}

TEST_F(CheckResponseTest, GzipThatWouldInflatePast64MiBIsRefused)
{
    // About 64 KiB on the wire, 65 MiB of blanks once inflated.
    z_stream stream{};
    ASSERT_EQ(deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string blanks(1024 * 1024, ' ');
    std::string chunk(256 * 1024, '\0');
    std::string bomb;
    for (int i = 0; i < 65; ++i) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(blanks.data()));
        stream.avail_in = uInt(blanks.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
            stream.avail_out = uInt(chunk.size());
            deflate(&stream, i == 64 ? Z_FINISH : Z_NO_FLUSH);
            bomb.append(chunk.data(), chunk.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    Backend.PushAnswer(GzipEncoded(bomb));
    const QString message = FailureOf([&] { PostAndCheck(); });
    EXPECT_TRUE(message.startsWith(QStringLiteral("Risposta gzip non valida: oltre 64 MiB")))
        << message.toStdString();
}
