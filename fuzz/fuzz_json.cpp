// Any bytes: the parser either refuses them or gives a tree whose compact text parses back into
// an equal tree and serialises to the same text. The path readers must cope with any tree.

#include "util/Errors.h"
#include "json/Json.h"
#include "json/RecordFromJson.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "fuzz_json: %s\n", what);
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // fromRawData: no terminating NUL after the input, so a read past its end is caught.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::unique_ptr<TJSONValue> first = ParseJsonUtf8(bytes);
    if (!first)
        return 0;

    const QString text = ToJsonText(*first);
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            Fail("serialised text is not pure ASCII");
    const std::unique_ptr<TJSONValue> second = ParseJsonText(text);
    if (!second)
        Fail("serialised text does not parse");
    if (!JsonEquals(*first, *second))
        Fail("round trip changed the tree");
    if (ToJsonText(*second) != text)
        Fail("second serialisation differs");

    QString read;
    TryReadPathText(*first, QStringLiteral("error"), read);
    TryReadPathText(*first, QStringLiteral("result.Error"), read);
    try {
        RecordFromJson<TFAESendXml>(text);
    } catch (const EVornError&) {
        // a refused mapping is a valid outcome
    }
    return 0;
}
