#pragma once

// Readable GoogleTest output: Qt's text types in failure messages, and the parameters of the
// parameterised suites in their test names and messages (GoogleTest shows a value it cannot print
// as "48-byte object <80-D2 ...>").

#include <QChar>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *os << '}';
}

inline void PrintTo(QChar c, std::ostream* os)
{
    *os << '\'' << QString(c).toStdString() << '\'';
}

// Bytes in double quotes on one line, printable ASCII as it is and everything else escaped: the
// test list that CTest reads shows each parameter on one line, so a parameter's PrintTo uses this.
inline std::string Quoted(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string quoted = "\"";
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '"' || c == '\\')
            quoted += {'\\', byte};
        else if (c == '\r')
            quoted += "\\r";
        else if (c == '\n')
            quoted += "\\n";
        else if (c == '\t')
            quoted += "\\t";
        else if (c >= 0x20 && c < 0x7F)
            quoted += byte;
        else
            quoted += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    }
    return quoted + '"';
}

inline std::string Quoted(const char* text)
{
    return Quoted(std::string_view(text));
}

inline std::string Quoted(const QString& text)
{
    return Quoted(text.toStdString());
}

// The name of one instance of a parameterised suite, made from a text: its ASCII letters and digits,
// '-' and '+' as "minus" and "plus", every run of other characters as one '_' ("Database = 'abc'"
// gives "Database_abc"); "empty" when nothing is left.
inline std::string TestNameOf(std::string_view text)
{
    std::string name;
    bool gap = false;
    for (const char c : text) {
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric && c != '-' && c != '+') {
            gap = !name.empty();
            continue;
        }
        if (gap)
            name += '_';
        gap = false;
        name += c == '-' ? "minus" : c == '+' ? "plus" : std::string(1, c);
    }
    return name.empty() ? "empty" : name;
}

// For tables where two texts may give the same name: the row's number in front keeps them apart
// ("3_Database_abc").
inline std::string NumberedTestName(std::size_t index, std::string_view text)
{
    return std::to_string(index) + '_' + TestNameOf(text);
}
