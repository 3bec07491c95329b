#pragma once

// Byte-string helpers of the substitute backend: names and tokens on the wire compare without
// regard to ASCII case, and header values lose their surrounding blanks.

#include <string>

namespace substitute {

std::string Lower(std::string text); // ASCII letters only
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
bool ContainsNoCase(const std::string& text, const std::string& part);

// Blanks and tabs removed from both ends.
std::string Trim(const std::string& text);

} // namespace substitute
