#pragma once

// Our JSON document model: objects keep their members (duplicates included) in document order,
// numbers keep the literal text they were written with.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>
#include <vector>

class TJSONValue
{
public:
    enum class Kind
    {
        Object,
        Array,
        String,
        Number,
        True,
        False,
        Null
    };

    virtual ~TJSONValue() = default;
    TJSONValue(const TJSONValue&) = delete;
    TJSONValue& operator=(const TJSONValue&) = delete;

    Kind GetKind() const { return FKind; }
    // The type name a conversion failure reports ("TJSONObject", "TJSONArray", ...).
    virtual QString ClassName() const = 0;

protected:
    explicit TJSONValue(Kind kind) : FKind(kind) {}

private:
    Kind FKind;
};

class TJSONString final : public TJSONValue
{
public:
    explicit TJSONString(QString value) : TJSONValue(Kind::String), FValue(std::move(value)) {}
    const QString& Value() const { return FValue; }
    QString ClassName() const override { return QStringLiteral("TJSONString"); }

private:
    QString FValue;
};

class TJSONNumber final : public TJSONValue
{
public:
    explicit TJSONNumber(QString literal) : TJSONValue(Kind::Number), FLiteral(std::move(literal)) {}
    const QString& Literal() const { return FLiteral; }
    QString ClassName() const override { return QStringLiteral("TJSONNumber"); }

private:
    QString FLiteral;
};

class TJSONBool final : public TJSONValue
{
public:
    explicit TJSONBool(bool value) : TJSONValue(value ? Kind::True : Kind::False) {}
    bool Value() const { return GetKind() == Kind::True; }
    QString ClassName() const override
    {
        return Value() ? QStringLiteral("TJSONTrue") : QStringLiteral("TJSONFalse");
    }
};

class TJSONNull final : public TJSONValue
{
public:
    TJSONNull() : TJSONValue(Kind::Null) {}
    QString ClassName() const override { return QStringLiteral("TJSONNull"); }
};

class TJSONArray final : public TJSONValue
{
public:
    TJSONArray() : TJSONValue(Kind::Array) {}
    std::size_t Count() const { return FItems.size(); }
    const TJSONValue& Item(std::size_t index) const { return *FItems.at(index); }
    const std::vector<std::unique_ptr<TJSONValue>>& Items() const { return FItems; }
    void Add(std::unique_ptr<TJSONValue> value) { FItems.push_back(std::move(value)); }
    QString ClassName() const override { return QStringLiteral("TJSONArray"); }

private:
    std::vector<std::unique_ptr<TJSONValue>> FItems;
};

struct TJSONPair
{
    QString Name;
    std::unique_ptr<TJSONValue> Value;
};

class TJSONObject final : public TJSONValue
{
public:
    TJSONObject() : TJSONValue(Kind::Object) {}
    std::size_t Count() const { return FMembers.size(); }
    const TJSONPair& Pair(std::size_t index) const { return FMembers.at(index); }
    const std::vector<TJSONPair>& Members() const { return FMembers; }
    // The first member whose name equals `name` exactly, or null.
    const TJSONValue* Find(QStringView name) const;
    void Add(QString name, std::unique_ptr<TJSONValue> value);
    QString ClassName() const override { return QStringLiteral("TJSONObject"); }

private:
    std::vector<TJSONPair> FMembers;
};

// Strict RFC 8259 parsing of exactly one value. Any malformed text (including invalid UTF-8 and
// nesting deeper than kMaxJsonDepth) gives null; it never throws.
// A "\u" escape of a lone surrogate is kept as that UTF-16 code unit instead of failing the whole
// answer: the text stays readable and serialising writes the same escape back. A byte order mark
// is not whitespace and fails the parse. ParseJsonText fails on a text that holds an unpaired
// surrogate, because its UTF-8 form would not be the text it was given.
inline constexpr int kMaxJsonDepth = 512;
std::unique_ptr<TJSONValue> ParseJsonUtf8(const QByteArray& utf8);
std::unique_ptr<TJSONValue> ParseJsonText(const QString& text); // the text's UTF-8 form

// Compact serialisation: pure ASCII, "\/" for the slash, upper-case hex in "\u" escapes.
QString ToJsonText(const TJSONValue& value);

// Same kinds, same texts and literals, same members in the same order.
bool JsonEquals(const TJSONValue& left, const TJSONValue& right);

// Dotted-path lookup: each name selects the first member of that exact name; null when nothing.
const TJSONValue* FindPath(const TJSONValue& value, const QString& path);

// Path readers; failures throw EVornError with the fixed texts
// "Value '%s' not found", "Conversion from %0:s to %1:s is not supported", "Invalid class typecast".
QString ReadPathText(const TJSONValue& value, const QString& path);
const TJSONObject& ReadPathObject(const TJSONValue& value, const QString& path);
const TJSONArray& ReadPathArray(const TJSONValue& value, const QString& path);
const TJSONValue& ReadPathValue(const TJSONValue& value, const QString& path);
// The tolerant companion of ReadPathText: false and an empty text instead of a failure.
bool TryReadPathText(const TJSONValue& value, const QString& path, QString& text);
