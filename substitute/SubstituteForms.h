#pragma once

// Reading request bodies the way the backend does: form encoding and multipart forms, parsed
// from the raw bytes so that every name stays exactly as it stood on the wire.

#include <string>
#include <utility>
#include <vector>

namespace substitute {

using FieldList = std::vector<std::pair<std::string, std::string>>;

// "a=1&b=x+y%21" into its pairs, in order; "+" is a space. A broken %-escape stays as it came.
FieldList ParseUrlEncoded(const std::string& body);

// A parameter of a header value such as `multipart/form-data; boundary="x"` or
// `form-data; name="a"; filename="b.xml"`: the text between the quotes, unchanged, or the bare
// token; "" when absent. Parameter names compare without regard to case.
std::string HeaderParameter(const std::string& headerValue, const std::string& name);
bool HasHeaderParameter(const std::string& headerValue, const std::string& name);

struct MultipartPart
{
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Name;
    std::string FileName;
    bool HasFileName = false;
    std::string ContentType;
    std::string Content;
};

// Splits a multipart body (RFC 2046) at its boundary. Throws std::runtime_error with an Italian
// message when the body does not have the multipart structure.
std::vector<MultipartPart> ParseMultipart(const std::string& body, const std::string& boundary);

std::string Base64Encode(const std::string& bytes);
// Standard alphabet with "=" padding; false for anything else.
bool Base64Decode(const std::string& text, std::string& bytes);

} // namespace substitute
