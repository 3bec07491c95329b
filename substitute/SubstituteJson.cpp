#include "substitute/SubstituteJson.h"

#include <cstdio>

namespace substitute {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Text(const std::string& name, const std::string& value)
{
    FMembers.emplace_back(name, JsonString(value));
    return *this;
}

JsonObject& JsonObject::Raw(const std::string& name, const std::string& json)
{
    FMembers.emplace_back(name, json);
    return *this;
}

std::string JsonObject::Dump() const
{
    std::string out = "{";
    for (const auto& [name, value] : FMembers)
        out += (out.size() > 1 ? "," : "") + JsonString(name) + ":" + value;
    return out + "}";
}

std::string JsonArray(const std::vector<std::string>& serialisedValues)
{
    std::string out = "[";
    for (const std::string& value : serialisedValues)
        out += (out.size() > 1 ? "," : "") + value;
    return out + "]";
}

} // namespace substitute
