#pragma once

#include "json/Json.h"

#include <QByteArray>
#include <string_view>

// Test texts are written as std::string_view literals so that embedded NUL bytes survive.
inline QByteArray Bytes(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::unique_ptr<TJSONValue> Parse(std::string_view text)
{
    return ParseJsonUtf8(Bytes(text));
}
