// Any bytes as the body of a 200 answer, plain, labelled gzip, or truly gzip-compressed, under
// one of several charsets: the answer check either fails with an EVornError or gives a tree whose
// top-level "error" is empty once trimmed. Nothing else may come out of it. No network.

#include "backend/AnswerDecoding.h"
#include "util/Errors.h"
#include "util/Text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <zlib.h>

namespace {

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "fuzz_check_response: %s\n", what);
    __builtin_trap();
}

constexpr std::array<const char*, 8> kContentTypes = {
    "application/json",
    "application/json; charset=utf-8",
    "application/json; charset=\"ISO-8859-1\"",
    "application/json; charset=UTF-16LE",
    "application/json; charset=windows-1252",
    "application/json; charset=Shift_JIS",
    "application/json; charset=x-nobody-knows",
    "text/html; charset=",
};

QByteArray Gzip(const QByteArray& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        Fail("deflateInit2");
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size())) + 32), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        Fail("deflate");
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // First byte: bits 0-1 the encoding (plain, labelled gzip, compressed gzip), bits 2-4 the type.
    const std::uint8_t mode = data[0];
    const QByteArray bytes = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    THttpResponse response;
    response.StatusCode = 200;
    response.StatusText = QStringLiteral("OK");
    response.Headers.emplace_back("Content-Type", kContentTypes[(mode >> 2) % kContentTypes.size()]);
    const int encoding = mode & 3;
    if (encoding != 0)
        response.Headers.emplace_back("Content-Encoding", "gzip");
    response.Body = encoding == 2 ? Gzip(bytes) : bytes;

    std::unique_ptr<TJSONValue> answer;
    try {
        answer = CheckResponse(response);
    } catch (const EVornError& error) {
        if (error.Message().isNull())
            Fail("a failure without a message");
        return 0;
    }
    if (!answer)
        Fail("passed without a parsed answer");
    try {
        if (!TrimControl(ReadPathText(*answer, QStringLiteral("error"))).isEmpty())
            Fail("passed with a non-empty error");
    } catch (const EVornError&) {
        Fail("passed although \"error\" cannot be read");
    }
    return 0;
}
