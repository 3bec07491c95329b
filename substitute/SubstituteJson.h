#pragma once

// Writing the backend's JSON answers with their members in a fixed order.

#include <string>
#include <utility>
#include <vector>

namespace substitute {

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped,
// everything else (non-ASCII letters included) written as its UTF-8 bytes.
std::string JsonString(const std::string& text);

class JsonObject
{
public:
    JsonObject& Text(const std::string& name, const std::string& value);
    JsonObject& Raw(const std::string& name, const std::string& json); // an already serialised value
    std::string Dump() const;

private:
    std::vector<std::pair<std::string, std::string>> FMembers;
};

std::string JsonArray(const std::vector<std::string>& serialisedValues);

} // namespace substitute
