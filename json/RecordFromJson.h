#pragma once

// Maps a JSON object into a new record: each member fills the field "F" + its name, compared
// without regard to the case of ASCII letters. Strings give their text, numbers their literal
// text, null the empty text; objects and unknown members are passed over; true or false fail
// with "Invalid class typecast" and arrays with "Cannot set value for field %s as it is expected
// to be an array instead of %s". Later members overwrite earlier ones.
//
// The mapping options are the same at every call (dates as UTC in ISO 8601, empty strings and
// arrays kept); the records hold texts only, so they need no parameter here.

#include "json/Fatture.h"
#include "json/InfoDatabase.h"
#include "json/Json.h"

#include <QString>
#include <memory>

// From JSON text: a text that does not parse, or whose value is not an object, fails with
// "The input value is not a valid Object".
template <class T> std::unique_ptr<T> RecordFromJson(const QString& jsonText);

// From an object of a parsed tree, which stays the caller's.
template <class T> std::unique_ptr<T> RecordFromJson(const TJSONObject& object);

// The classes that are filled from the backend's answers.
#define VORN_MAPPED_RECORD_CLASSES(X)                                                                        \
    X(TFAEAttiva)                                                                                            \
    X(TFAEPassiva)                                                                                           \
    X(TFAENotifica)                                                                                          \
    X(TFAEGetXmlById)                                                                                        \
    X(TFAESendXml)                                                                                           \
    X(TInfoDatabase)

#define VORN_DECLARE_RECORD_FROM_JSON(T)                                                                     \
    extern template std::unique_ptr<T> RecordFromJson<T>(const QString&);                                    \
    extern template std::unique_ptr<T> RecordFromJson<T>(const TJSONObject&);
VORN_MAPPED_RECORD_CLASSES(VORN_DECLARE_RECORD_FROM_JSON)
#undef VORN_DECLARE_RECORD_FROM_JSON
