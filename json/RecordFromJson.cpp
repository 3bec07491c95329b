#include "json/RecordFromJson.h"

#include "util/Errors.h"

namespace {

char16_t FoldAsciiCase(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

// Whether "F" + memberName names the field `fieldName`. Only ASCII letters are folded: Qt's own
// case-insensitive comparison would also fold letters such as U+017F into "S".
bool IsFieldOfMember(QLatin1StringView fieldName, const QString& memberName)
{
    if (fieldName.size() != memberName.size() + 1 || fieldName.front() != QLatin1Char('F'))
        return false;
    for (qsizetype i = 0; i < memberName.size(); ++i)
        if (FoldAsciiCase(memberName[i].unicode()) != FoldAsciiCase(fieldName[i + 1].unicode()))
            return false;
    return true;
}

template <class T> void SetField(T& record, const TJSONPair& member)
{
    for (const TRecordField<T>& field : T::FieldTable()) {
        if (!IsFieldOfMember(field.Name, member.Name))
            continue;
        const TJSONValue& value = *member.Value;
        switch (value.GetKind()) {
        case TJSONValue::Kind::String:
            record.*field.Member = static_cast<const TJSONString&>(value).Value();
            break;
        case TJSONValue::Kind::Number:
            record.*field.Member = static_cast<const TJSONNumber&>(value).Literal();
            break;
        case TJSONValue::Kind::Null:
            (record.*field.Member).clear();
            break;
        case TJSONValue::Kind::Object:
            break; // no record has an object field: the text stays as it was
        case TJSONValue::Kind::True:
        case TJSONValue::Kind::False:
            throw EVornError(QStringLiteral("Invalid class typecast"));
        case TJSONValue::Kind::Array:
            throw EVornError(
                QStringLiteral("Cannot set value for field %1 as it is expected to be an array instead of %2")
                    .arg(member.Name, QStringLiteral("string")));
        }
        return; // field names are unique, so one field at most matches
    }
}

} // namespace

template <class T> std::unique_ptr<T> RecordFromJson(const TJSONObject& object)
{
    auto record = std::make_unique<T>();
    for (const TJSONPair& member : object.Members())
        SetField(*record, member);
    return record;
}

template <class T> std::unique_ptr<T> RecordFromJson(const QString& jsonText)
{
    const std::unique_ptr<TJSONValue> parsed = ParseJsonText(jsonText);
    if (!parsed || parsed->GetKind() != TJSONValue::Kind::Object)
        throw EVornError(QStringLiteral("The input value is not a valid Object"));
    return RecordFromJson<T>(static_cast<const TJSONObject&>(*parsed));
}

#define VORN_DEFINE_RECORD_FROM_JSON(T)                                                                      \
    template std::unique_ptr<T> RecordFromJson<T>(const QString&);                                           \
    template std::unique_ptr<T> RecordFromJson<T>(const TJSONObject&);
VORN_MAPPED_RECORD_CLASSES(VORN_DEFINE_RECORD_FROM_JSON)
