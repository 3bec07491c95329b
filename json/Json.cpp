#include "json/Json.h"

#include "util/Errors.h"

#include <QStringTokenizer>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace {

using Byte = unsigned char;

bool IsWhitespace(Byte c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(Byte c)
{
    return c >= '0' && c <= '9';
}

// A byte that stands for itself inside a string: printable ASCII other than the quote and the backslash.
bool IsPlainStringByte(Byte c)
{
    return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
}

int HexValue(Byte c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One UTF-8 sequence starting at `p` and ending before `end`: its length, or 0 when it is not
// well-formed (overlong forms, encoded surrogates, values above U+10FFFF, truncation).
int DecodeUtf8(const Byte* p, const Byte* end, char32_t& codePoint)
{
    const Byte lead = p[0];
    int continuation = 0;
    Byte low = 0x80;
    Byte high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuation = 2;
        codePoint = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // below: overlong
        if (lead == 0xED)
            high = 0x9F; // above: a surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuation = 3;
        codePoint = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // below: overlong
        if (lead == 0xF4)
            high = 0x8F; // above: beyond U+10FFFF
    } else {
        return 0;
    }
    if (end - p <= continuation)
        return 0;
    for (int i = 1; i <= continuation; ++i) {
        const Byte next = p[i];
        if (next < low || next > high)
            return 0;
        low = 0x80;
        high = 0xBF;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return continuation + 1;
}

class TJsonParser
{
public:
    explicit TJsonParser(const QByteArray& utf8)
        : FPos(reinterpret_cast<const Byte*>(utf8.constData())), FEnd(FPos + utf8.size())
    {}

    std::unique_ptr<TJSONValue> ParseDocument()
    {
        SkipWhitespace();
        std::unique_ptr<TJSONValue> value = ParseValue(0);
        if (!value)
            return nullptr;
        SkipWhitespace();
        if (FPos != FEnd)
            return nullptr;
        return value;
    }

private:
    // An answer repeats the same member names in every record: one shared text per distinct
    // plain name spares an allocation per member. Bounded so that hostile input cannot grow it.
    static constexpr std::size_t kMaxSharedNames = 1024;
    static constexpr std::ptrdiff_t kMaxSharedNameLength = 64;

    const Byte* FPos;
    const Byte* FEnd;
    std::unordered_map<std::string_view, QString> FSharedNames;

    void SkipWhitespace()
    {
        while (FPos != FEnd && IsWhitespace(*FPos))
            ++FPos;
    }

    bool Consume(Byte c)
    {
        if (FPos == FEnd || *FPos != c)
            return false;
        ++FPos;
        return true;
    }

    bool ConsumeWord(std::string_view word)
    {
        if (static_cast<std::size_t>(FEnd - FPos) < word.size() ||
            std::string_view(reinterpret_cast<const char*>(FPos), word.size()) != word)
            return false;
        FPos += word.size();
        return true;
    }

    // `depth` counts the objects and arrays that enclose the value.
    std::unique_ptr<TJSONValue> ParseValue(int depth)
    {
        if (FPos == FEnd)
            return nullptr;
        switch (*FPos) {
        case '{':
            return ParseObject(depth + 1);
        case '[':
            return ParseArray(depth + 1);
        case '"': {
            QString text;
            if (!ParseString(text))
                return nullptr;
            return std::make_unique<TJSONString>(std::move(text));
        }
        case 't':
            return ConsumeWord("true") ? std::make_unique<TJSONBool>(true) : nullptr;
        case 'f':
            return ConsumeWord("false") ? std::make_unique<TJSONBool>(false) : nullptr;
        case 'n':
            return ConsumeWord("null") ? std::make_unique<TJSONNull>() : nullptr;
        default:
            return ParseNumber();
        }
    }

    std::unique_ptr<TJSONValue> ParseObject(int depth)
    {
        if (depth > kMaxJsonDepth)
            return nullptr;
        ++FPos; // '{'
        auto object = std::make_unique<TJSONObject>();
        SkipWhitespace();
        if (Consume('}'))
            return object;
        for (;;) {
            QString name;
            if (FPos == FEnd || *FPos != '"' || !ParseName(name))
                return nullptr;
            SkipWhitespace();
            if (!Consume(':'))
                return nullptr;
            SkipWhitespace();
            std::unique_ptr<TJSONValue> value = ParseValue(depth);
            if (!value)
                return nullptr;
            object->Add(std::move(name), std::move(value));
            SkipWhitespace();
            if (Consume('}'))
                return object;
            if (!Consume(','))
                return nullptr;
            SkipWhitespace();
        }
    }

    std::unique_ptr<TJSONValue> ParseArray(int depth)
    {
        if (depth > kMaxJsonDepth)
            return nullptr;
        ++FPos; // '['
        auto array = std::make_unique<TJSONArray>();
        SkipWhitespace();
        if (Consume(']'))
            return array;
        for (;;) {
            std::unique_ptr<TJSONValue> value = ParseValue(depth);
            if (!value)
                return nullptr;
            array->Add(std::move(value));
            SkipWhitespace();
            if (Consume(']'))
                return array;
            if (!Consume(','))
                return nullptr;
            SkipWhitespace();
        }
    }

    // The grammar of RFC 8259; the literal text is kept as it stands, never converted.
    std::unique_ptr<TJSONValue> ParseNumber()
    {
        const Byte* start = FPos;
        Consume('-');
        if (FPos == FEnd)
            return nullptr;
        if (*FPos == '0') {
            ++FPos;
        } else if (IsDigit(*FPos)) {
            while (FPos != FEnd && IsDigit(*FPos))
                ++FPos;
        } else {
            return nullptr;
        }
        if (Consume('.') && !ConsumeDigits())
            return nullptr;
        if (FPos != FEnd && (*FPos == 'e' || *FPos == 'E')) {
            ++FPos;
            if (!Consume('+'))
                Consume('-');
            if (!ConsumeDigits())
                return nullptr;
        }
        return std::make_unique<TJSONNumber>(
            QString::fromLatin1(reinterpret_cast<const char*>(start), FPos - start));
    }

    // One digit or more.
    bool ConsumeDigits()
    {
        if (FPos == FEnd || !IsDigit(*FPos))
            return false;
        while (FPos != FEnd && IsDigit(*FPos))
            ++FPos;
        return true;
    }

    bool ParseName(QString& name)
    {
        const Byte* start = FPos + 1;
        const Byte* p = start;
        while (p != FEnd && IsPlainStringByte(*p))
            ++p;
        if (p == FEnd || *p != '"' || p - start > kMaxSharedNameLength)
            return ParseString(name);
        const std::string_view key(reinterpret_cast<const char*>(start), p - start);
        FPos = p + 1;
        if (const auto shared = FSharedNames.find(key); shared != FSharedNames.end()) {
            name = shared->second;
            return true;
        }
        name = QString::fromLatin1(key.data(), key.size());
        if (FSharedNames.size() < kMaxSharedNames)
            FSharedNames.emplace(key, name);
        return true;
    }

    // A string from its opening quote; on success FPos is past the closing quote.
    bool ParseString(QString& text)
    {
        const Byte* start = FPos + 1;
        const Byte* plainEnd = start;
        while (plainEnd != FEnd && IsPlainStringByte(*plainEnd))
            ++plainEnd;
        if (plainEnd == FEnd)
            return false;
        if (*plainEnd == '"') {
            text = QString::fromLatin1(reinterpret_cast<const char*>(start), plainEnd - start);
            FPos = plainEnd + 1;
            return true;
        }

        // Find the closing quote first: every byte gives at most one UTF-16 code unit, so the
        // byte length bounds the decoded length and the text is written in place.
        const Byte* close = plainEnd;
        while (close != FEnd && *close != '"') {
            if (*close == '\\' && ++close == FEnd)
                return false;
            ++close;
        }
        if (close == FEnd)
            return false;

        text.resize(close - start);
        QChar* out = text.data();
        for (const Byte* p = start; p != plainEnd; ++p)
            *out++ = QChar(char16_t(*p));
        for (const Byte* p = plainEnd; p != close;) {
            const Byte c = *p;
            if (c == '\\') {
                if (!DecodeEscape(p, close, out))
                    return false;
            } else if (c < 0x20) {
                return false;
            } else if (c < 0x80) {
                *out++ = QChar(char16_t(c));
                ++p;
            } else {
                char32_t codePoint = 0;
                const int length = DecodeUtf8(p, close, codePoint);
                if (length == 0)
                    return false;
                p += length;
                if (codePoint < 0x10000) {
                    *out++ = QChar(char16_t(codePoint));
                } else {
                    *out++ = QChar(QChar::highSurrogate(codePoint));
                    *out++ = QChar(QChar::lowSurrogate(codePoint));
                }
            }
        }
        text.truncate(out - text.constData());
        FPos = close + 1;
        return true;
    }

    // A "\u" escape writes its code unit as it is: a surrogate pair written as two escapes thus
    // becomes the character, and a lone surrogate stays a lone code unit.
    static bool DecodeEscape(const Byte*& p, const Byte* end, QChar*& out)
    {
        ++p; // the backslash; the closing quote search guarantees one more byte
        const Byte kind = *p++;
        switch (kind) {
        case '"':
        case '\\':
        case '/':
            *out++ = QChar(char16_t(kind));
            return true;
        case 'b':
            *out++ = QChar(u'\b');
            return true;
        case 'f':
            *out++ = QChar(u'\f');
            return true;
        case 'n':
            *out++ = QChar(u'\n');
            return true;
        case 'r':
            *out++ = QChar(u'\r');
            return true;
        case 't':
            *out++ = QChar(u'\t');
            return true;
        case 'u': {
            if (end - p < 4)
                return false;
            int unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = HexValue(p[i]);
                if (digit < 0)
                    return false;
                unit = unit * 16 + digit;
            }
            p += 4;
            *out++ = QChar(char16_t(unit));
            return true;
        }
        default:
            return false;
        }
    }
};

bool HasUnpairedSurrogate(const QString& text)
{
    const QChar* data = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i].isHighSurrogate() && i + 1 < size && data[i + 1].isLowSurrogate())
            ++i;
        else if (data[i].isSurrogate())
            return true;
    }
    return false;
}

class TJsonWriter
{
public:
    QString Result;

    void Write(const TJSONValue& value)
    {
        switch (value.GetKind()) {
        case TJSONValue::Kind::Object: {
            Result += u'{';
            bool first = true;
            for (const TJSONPair& member : static_cast<const TJSONObject&>(value).Members()) {
                if (!first)
                    Result += u',';
                first = false;
                WriteString(member.Name);
                Result += u':';
                Write(*member.Value);
            }
            Result += u'}';
            break;
        }
        case TJSONValue::Kind::Array: {
            Result += u'[';
            bool first = true;
            for (const auto& item : static_cast<const TJSONArray&>(value).Items()) {
                if (!first)
                    Result += u',';
                first = false;
                Write(*item);
            }
            Result += u']';
            break;
        }
        case TJSONValue::Kind::String:
            WriteString(static_cast<const TJSONString&>(value).Value());
            break;
        case TJSONValue::Kind::Number:
            Result += static_cast<const TJSONNumber&>(value).Literal();
            break;
        case TJSONValue::Kind::True:
            Result += QLatin1StringView("true");
            break;
        case TJSONValue::Kind::False:
            Result += QLatin1StringView("false");
            break;
        case TJSONValue::Kind::Null:
            Result += QLatin1StringView("null");
            break;
        }
    }

private:
    void WriteString(const QString& text)
    {
        Result += u'"';
        const QChar* data = text.constData();
        const qsizetype size = text.size();
        qsizetype runStart = 0; // code units that stand for themselves go out in one piece
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t unit = data[i].unicode();
            if (unit >= 0x20 && unit <= 0x7F && unit != u'"' && unit != u'\\' && unit != u'/')
                continue;
            Result.append(data + runStart, i - runStart);
            WriteEscape(unit);
            runStart = i + 1;
        }
        Result.append(data + runStart, size - runStart);
        Result += u'"';
    }

    void WriteEscape(char16_t unit)
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        char escape[6] = {'\\', 0, 0, 0, 0, 0};
        qsizetype length = 2;
        switch (unit) {
        case u'"':
        case u'\\':
        case u'/':
            escape[1] = char(unit);
            break;
        case u'\b':
            escape[1] = 'b';
            break;
        case u'\t':
            escape[1] = 't';
            break;
        case u'\n':
            escape[1] = 'n';
            break;
        case u'\f':
            escape[1] = 'f';
            break;
        case u'\r':
            escape[1] = 'r';
            break;
        default:
            escape[1] = 'u';
            escape[2] = kHex[(unit >> 12) & 0xF];
            escape[3] = kHex[(unit >> 8) & 0xF];
            escape[4] = kHex[(unit >> 4) & 0xF];
            escape[5] = kHex[unit & 0xF];
            length = 6;
            break;
        }
        Result += QLatin1StringView(escape, length);
    }
};

// The text that ReadPathText gives for a scalar; nothing for an object or an array.
std::optional<QString> ScalarText(const TJSONValue& value)
{
    switch (value.GetKind()) {
    case TJSONValue::Kind::String:
        return static_cast<const TJSONString&>(value).Value();
    case TJSONValue::Kind::Number:
        return static_cast<const TJSONNumber&>(value).Literal();
    case TJSONValue::Kind::True:
        return QStringLiteral("true");
    case TJSONValue::Kind::False:
        return QStringLiteral("false");
    case TJSONValue::Kind::Null:
        return QString();
    case TJSONValue::Kind::Object:
    case TJSONValue::Kind::Array:
        break;
    }
    return std::nullopt;
}

} // namespace

const TJSONValue* TJSONObject::Find(QStringView name) const
{
    for (const TJSONPair& member : FMembers)
        if (member.Name == name)
            return member.Value.get();
    return nullptr;
}

void TJSONObject::Add(QString name, std::unique_ptr<TJSONValue> value)
{
    FMembers.push_back(TJSONPair{std::move(name), std::move(value)});
}

std::unique_ptr<TJSONValue> ParseJsonUtf8(const QByteArray& utf8)
{
    try {
        return TJsonParser(utf8).ParseDocument();
    } catch (const std::bad_alloc&) {
        return nullptr; // a text too large to hold is as unusable as a malformed one
    }
}

std::unique_ptr<TJSONValue> ParseJsonText(const QString& text)
{
    if (HasUnpairedSurrogate(text))
        return nullptr;
    return ParseJsonUtf8(text.toUtf8());
}

QString ToJsonText(const TJSONValue& value)
{
    TJsonWriter writer;
    writer.Write(value);
    return writer.Result;
}

bool JsonEquals(const TJSONValue& left, const TJSONValue& right)
{
    if (left.GetKind() != right.GetKind())
        return false;
    switch (left.GetKind()) {
    case TJSONValue::Kind::Object: {
        const auto& a = static_cast<const TJSONObject&>(left).Members();
        const auto& b = static_cast<const TJSONObject&>(right).Members();
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i].Name != b[i].Name || !JsonEquals(*a[i].Value, *b[i].Value))
                return false;
        return true;
    }
    case TJSONValue::Kind::Array: {
        const auto& a = static_cast<const TJSONArray&>(left).Items();
        const auto& b = static_cast<const TJSONArray&>(right).Items();
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!JsonEquals(*a[i], *b[i]))
                return false;
        return true;
    }
    case TJSONValue::Kind::String:
        return static_cast<const TJSONString&>(left).Value() ==
               static_cast<const TJSONString&>(right).Value();
    case TJSONValue::Kind::Number:
        return static_cast<const TJSONNumber&>(left).Literal() ==
               static_cast<const TJSONNumber&>(right).Literal();
    case TJSONValue::Kind::True:
    case TJSONValue::Kind::False:
    case TJSONValue::Kind::Null:
        return true;
    }
    return false;
}

const TJSONValue* FindPath(const TJSONValue& value, const QString& path)
{
    const TJSONValue* current = &value;
    for (QStringView name : qTokenize(path, u'.')) {
        if (current->GetKind() != TJSONValue::Kind::Object)
            return nullptr;
        current = static_cast<const TJSONObject*>(current)->Find(name);
        if (!current)
            return nullptr;
    }
    return current;
}

const TJSONValue& ReadPathValue(const TJSONValue& value, const QString& path)
{
    const TJSONValue* found = FindPath(value, path);
    if (!found)
        throw EVornError(QStringLiteral("Value '") + path + QStringLiteral("' not found"));
    return *found;
}

QString ReadPathText(const TJSONValue& value, const QString& path)
{
    const TJSONValue& found = ReadPathValue(value, path);
    std::optional<QString> text = ScalarText(found);
    if (!text)
        throw EVornError(QStringLiteral("Conversion from %1 to %2 is not supported")
                             .arg(found.ClassName(), QStringLiteral("string")));
    return *std::move(text);
}

const TJSONObject& ReadPathObject(const TJSONValue& value, const QString& path)
{
    const TJSONValue& found = ReadPathValue(value, path);
    if (found.GetKind() != TJSONValue::Kind::Object)
        throw EVornError(QStringLiteral("Invalid class typecast"));
    return static_cast<const TJSONObject&>(found);
}

const TJSONArray& ReadPathArray(const TJSONValue& value, const QString& path)
{
    const TJSONValue& found = ReadPathValue(value, path);
    if (found.GetKind() != TJSONValue::Kind::Array)
        throw EVornError(QStringLiteral("Invalid class typecast"));
    return static_cast<const TJSONArray&>(found);
}

bool TryReadPathText(const TJSONValue& value, const QString& path, QString& text)
{
    text.clear();
    const TJSONValue* found = FindPath(value, path);
    if (!found)
        return false;
    std::optional<QString> scalar = ScalarText(*found);
    if (!scalar)
        return false;
    text = *std::move(scalar);
    return true;
}
