#pragma once

// The record classes hold the backend's values as plain texts. Each class lists its fields once,
// as an X-macro; VORN_RECORD_TEXT_FIELDS turns that list into the private fields "F" + name, the
// accessors Name()/SetName() and the field table that RecordFromJson maps members through.

#include <QLatin1StringView>
#include <QString>
#include <span>

// One text field of a record class: its field name ("F" followed by the property's name) and
// the member that holds it.
template <class T> struct TRecordField
{
    QLatin1StringView Name;
    QString T::*Member;
};

#define VORN_RECORD_ACCESSORS(name)                                                                          \
    const QString& name() const                                                                              \
    {                                                                                                        \
        return F##name;                                                                                      \
    }                                                                                                        \
    void Set##name(const QString& value)                                                                     \
    {                                                                                                        \
        F##name = value;                                                                                     \
    }
#define VORN_RECORD_MEMBER(name) QString F##name;
#define VORN_RECORD_TABLE_ENTRY(name)                                                                        \
    TRecordField<TRecordSelf>{QLatin1StringView("F" #name), &TRecordSelf::F##name},

// Opens with public: and leaves the class in private: after the fields.
#define VORN_RECORD_TEXT_FIELDS(Class, FIELDS)                                                               \
public:                                                                                                      \
    FIELDS(VORN_RECORD_ACCESSORS)                                                                            \
    /* The text fields in declaration order. */                                                              \
    static std::span<const TRecordField<Class>> FieldTable()                                                 \
    {                                                                                                        \
        using TRecordSelf = Class;                                                                           \
        static constexpr TRecordField<Class> kFields[] = {FIELDS(VORN_RECORD_TABLE_ENTRY)};                  \
        return kFields;                                                                                      \
    }                                                                                                        \
                                                                                                             \
private:                                                                                                     \
    FIELDS(VORN_RECORD_MEMBER)
