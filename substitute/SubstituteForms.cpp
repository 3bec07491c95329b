#include "substitute/SubstituteForms.h"

#include "substitute/SubstituteText.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace substitute {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string FormDecode(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The parameters after the first ";" of a header value, split outside quotes.
std::vector<std::pair<std::string, std::string>> Parameters(const std::string& value)
{
    std::vector<std::pair<std::string, std::string>> parameters;
    std::size_t i = value.find(';');
    while (i != std::string::npos && i < value.size()) {
        ++i;
        const std::size_t equals = value.find('=', i);
        const std::size_t nextSemicolon = value.find(';', i);
        if (equals == std::string::npos || (nextSemicolon != std::string::npos && nextSemicolon < equals)) {
            i = nextSemicolon;
            continue;
        }
        const std::string name = Lower(Trim(value.substr(i, equals - i)));
        std::size_t valueStart = equals + 1;
        while (valueStart < value.size() && (value[valueStart] == ' ' || value[valueStart] == '\t'))
            ++valueStart;
        if (valueStart < value.size() && value[valueStart] == '"') {
            // Quoted: everything up to the next quote, exactly as written (the client escapes nothing).
            const std::size_t closing = value.find('"', valueStart + 1);
            const std::size_t end = closing == std::string::npos ? value.size() : closing;
            parameters.emplace_back(name, value.substr(valueStart + 1, end - valueStart - 1));
            i = closing == std::string::npos ? std::string::npos : value.find(';', closing);
        } else {
            parameters.emplace_back(name, Trim(value.substr(valueStart, nextSemicolon - valueStart)));
            i = nextSemicolon;
        }
    }
    return parameters;
}

const std::string kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

FieldList ParseUrlEncoded(const std::string& body)
{
    FieldList fields;
    std::size_t start = 0;
    while (start <= body.size() && !body.empty()) {
        const std::size_t end = std::min(body.find('&', start), body.size());
        const std::string pair = body.substr(start, end - start);
        if (!pair.empty()) {
            const std::size_t equals = pair.find('=');
            if (equals == std::string::npos)
                fields.emplace_back(FormDecode(pair), "");
            else
                fields.emplace_back(FormDecode(pair.substr(0, equals)), FormDecode(pair.substr(equals + 1)));
        }
        start = end + 1;
    }
    return fields;
}

std::string HeaderParameter(const std::string& headerValue, const std::string& name)
{
    for (const auto& [key, value] : Parameters(headerValue))
        if (key == Lower(name))
            return value;
    return {};
}

bool HasHeaderParameter(const std::string& headerValue, const std::string& name)
{
    const auto parameters = Parameters(headerValue);
    return std::any_of(parameters.begin(), parameters.end(),
                       [&](const auto& p) { return p.first == Lower(name); });
}

std::vector<MultipartPart> ParseMultipart(const std::string& body, const std::string& boundary)
{
    if (boundary.empty())
        throw std::runtime_error("Richiesta multipart senza boundary");
    const std::string delimiter = "--" + boundary;
    // The first delimiter opens the body or follows a preamble line.
    std::size_t position = 0;
    if (body.rfind(delimiter, 0) != 0) {
        position = body.find("\r\n" + delimiter);
        if (position == std::string::npos)
            throw std::runtime_error("Richiesta multipart senza il boundary dichiarato");
        position += 2;
    }

    std::vector<MultipartPart> parts;
    for (;;) {
        position += delimiter.size();
        if (body.compare(position, 2, "--") == 0)
            return parts; // the closing delimiter; an epilogue after it is ignored
        while (position < body.size() && (body[position] == ' ' || body[position] == '\t'))
            ++position;
        if (body.compare(position, 2, "\r\n") != 0)
            throw std::runtime_error("Richiesta multipart con un boundary non seguito da CRLF");
        position += 2;

        MultipartPart part;
        for (;;) {
            const std::size_t lineEnd = body.find("\r\n", position);
            if (lineEnd == std::string::npos)
                throw std::runtime_error("Richiesta multipart con intestazioni di parte incomplete");
            const std::string line = body.substr(position, lineEnd - position);
            position = lineEnd + 2;
            if (line.empty())
                break;
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                throw std::runtime_error("Richiesta multipart con un'intestazione di parte non valida: " +
                                         line);
            part.Headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
        }
        const std::size_t next = body.find("\r\n" + delimiter, position);
        if (next == std::string::npos)
            throw std::runtime_error("Richiesta multipart senza il boundary di chiusura");
        part.Content = body.substr(position, next - position);
        position = next + 2;

        for (const auto& [name, value] : part.Headers) {
            const std::string key = Lower(name);
            if (key == "content-disposition") {
                part.Name = HeaderParameter(value, "name");
                part.HasFileName = HasHeaderParameter(value, "filename");
                part.FileName = HeaderParameter(value, "filename");
            } else if (key == "content-type") {
                part.ContentType = value;
            }
        }
        parts.push_back(std::move(part));
    }
}

std::string Base64Encode(const std::string& bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        unsigned value = 0;
        for (std::size_t k = 0; k < 3; ++k)
            value = (value << 8) | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= count ? kBase64Alphabet[(value >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

bool Base64Decode(const std::string& text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        unsigned value = 0;
        int padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            const bool last = i + 4 == text.size();
            if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
                ++padding;
                value <<= 6;
                continue;
            }
            const auto index = kBase64Alphabet.find(c);
            if (index == std::string::npos || padding > 0)
                return false;
            value = (value << 6) | static_cast<unsigned>(index);
        }
        for (int k = 0; k < 3 - padding; ++k)
            bytes += static_cast<char>((value >> (16 - 8 * k)) & 0xFF);
    }
    return true;
}

} // namespace substitute
