#include "tests/json/JsonTestUtil.h"
#include "json/Json.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_view_literals;

namespace {

const TJSONString& AsString(const TJSONValue& value)
{
    EXPECT_EQ(value.GetKind(), TJSONValue::Kind::String);
    return static_cast<const TJSONString&>(value);
}

// Texts that parse, with the compact form of the tree they give.
struct TAccepted
{
    std::string_view Text;
    const char* Compact;
};

TEST(JsonParse, AcceptsValidTextsAndBuildsTheirTree)
{
    const TAccepted cases[] = {
        {"{}", "{}"},
        {"[]", "[]"},
        {" \t\r\n{ \"a\" : 1 , \"b\" :[ ] } \r\n\t ", "{\"a\":1,\"b\":[]}"},
        {"[1,[2,[3]],{\"x\":{}}]", "[1,[2,[3]],{\"x\":{}}]"},
        {"\"x\"", "\"x\""},
        {"\"x\" \n", "\"x\""}, // whitespace may follow any value, as RFC 8259 allows
        {"  12.50  ", "12.50"},
        {"true", "true"},
        {"false", "false"},
        {"null", "null"},
        {"[true,false,null]", "[true,false,null]"},
        {"\"\"", "\"\""},
        {"{\"\":\"\"}", "{\"\":\"\"}"},
        {"{\"a\":\"b\",\"a\":\"c\"}", "{\"a\":\"b\",\"a\":\"c\"}"},
        {"[-0,0,-1,10,0.5,-0.5e-3,1E+2,1e3]", "[-0,0,-1,10,0.5,-0.5e-3,1E+2,1e3]"},
        {"\"\x7F\"", "\"\x7F\""}, // DEL is not a control character for JSON
    };
    for (const TAccepted& c : cases) {
        SCOPED_TRACE(std::string(c.Text));
        const std::unique_ptr<TJSONValue> value = Parse(c.Text);
        ASSERT_TRUE(value);
        EXPECT_EQ(ToJsonText(*value), QString::fromLatin1(c.Compact));
    }
}

TEST(JsonParse, RejectsMalformedTexts)
{
    const std::string_view cases[] = {
        // empty, whitespace only, not JSON whitespace
        "", " ", "\r\n", "[\f]", "[\v1]", "\xEF\xBB\xBF{}", "\xEF\xBB\xBF",
        // numbers
        "-", "1.", ".5", "+1", "01", "-01", "00", "1e", "1e+", "1E-", "1.e3", "0x1", "1_000", "NaN",
        "Infinity", "-Infinity", "- 1", "1.5.2", "[01]", "[1.]",
        // literals
        "tru", "nul", "fals", "True", "NULL", "truex", "nulll",
        // structure
        "[1,]", "{\"a\":1,}", "[,1]", "[1,,2]", "[1 2]", "{\"a\" 1}", "{\"a\"::1}", "{\"a\":}", "{,}",
        "{1:2}", "{'a':1}", "{a:1}", "[1", "[1,", "{\"a\"", "{\"a\":1", "[]]", "{}}", "]", "}", "1 2", "{} x",
        "[] []", "{}\0"sv, "/*c*/{}", "{}//c", "[1]#",
        // strings
        "\"abc", "\"", "'a'", "\"\t\"", "\"a\nb\"", "\"\0\""sv, "\"\x1F\"", "\"\\x\"", "\"\\a\"", "\"\\'\"",
        "\"\\U0041\"", "\"\\u12\"", "\"\\u12G4\"", "\"\\u 123\"", "\"\\\"", "\"\\", "[\"\\uD800\\\"]",
        "\"\\u00e",
        // UTF-8 that is not well-formed
        "\"\xC0\xAF\"", "\"\xC1\xBF\"", "\"\xE0\x80\xAF\"", "\"\xF0\x80\x80\xAF\"", // overlong
        "\"\xED\xA0\x80\"", "\"\xED\xBF\xBF\"",                                     // surrogates
        "\"\xF4\x90\x80\x80\"", "\"\xF5\x80\x80\x80\"", "\"\xF8\x88\x80\x80\x80\"", // beyond U+10FFFF
        "\"\xC3\"", "\"\xE2\x82\"", "\"\xF0\x9F\x98\"", "\"\xC3", "\"\xE2\x82",     // truncated
        "\"\x80\"", "\"\xBF\"", "\"\xFE\"", "\"\xFF\"", "\"\xC3\x28\"",             // stray bytes
        "\xC3\xA9", "[\xC3\xA9]", "{\"\xC3\":1}",                                   // outside strings
    };
    for (std::string_view text : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        EXPECT_FALSE(Parse(text));
    }
}

struct TDecoded
{
    std::string_view Text;
    std::u16string_view Expected;
};

TEST(JsonParse, DecodesEscapesAndUtf8IntoUtf16)
{
    const TDecoded cases[] = {
        {R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e8\u00E8\u20AC")", u"A\u00E8\u00E8\u20AC"},
        {R"("\uD83D\uDE00")", u"\U0001F600"},
        {R"("a\u0000b")", std::u16string_view(u"a\0b", 3)},
        {"\"\xC3\xA8\xE2\x82\xAC\xF0\x9F\x98\x80\"", u"\u00E8\u20AC\U0001F600"},
        {"\"\xEF\xBF\xBF\xF4\x8F\xBF\xBF\"", u"\uFFFF\U0010FFFF"},               // the highest of each length
        {"\"\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\"", u"\u0080\u0800\U00010000"}, // the lowest
        {"\"plain ascii then \xC3\xA8 then \\n\"", u"plain ascii then \u00E8 then \n"},
        // A lone surrogate escape is kept as that code unit rather than failing the answer.
        {R"("\uD800")", std::u16string_view(u"\xD800", 1)},
        {R"("\uDC00x")", std::u16string_view(u"\xDC00x", 2)},
        {R"("\uD800\u0041")", std::u16string_view(u"\xD800"
                                                  u"A",
                                                  2)},
        {R"("\uDE00\uD83D")", std::u16string_view(u"\xDE00\xD83D", 2)},
    };
    for (const TDecoded& c : cases) {
        SCOPED_TRACE(std::string(c.Text));
        const std::unique_ptr<TJSONValue> value = Parse(c.Text);
        ASSERT_TRUE(value);
        EXPECT_EQ(AsString(*value).Value(),
                  QString(reinterpret_cast<const QChar*>(c.Expected.data()), c.Expected.size()));
    }
}

TEST(JsonParse, MemberNamesDecodeLikeStrings)
{
    const std::unique_ptr<TJSONValue> value = Parse(R"({"\u00e8":1,"a\/b":2,"plain":3})");
    ASSERT_TRUE(value);
    const auto& object = static_cast<const TJSONObject&>(*value);
    ASSERT_EQ(object.Count(), 3u);
    EXPECT_EQ(object.Pair(0).Name, QString(QChar(0xE8)));
    EXPECT_EQ(object.Pair(1).Name, QStringLiteral("a/b"));
    EXPECT_EQ(object.Pair(2).Name, QStringLiteral("plain"));
}

// Repeated plain names share one text; past the sharing limits names must still come out right.
TEST(JsonParse, ManyDistinctAndLongNamesKeepTheirText)
{
    std::string text = "[";
    for (int i = 0; i < 3000; ++i)
        text += (i ? "," : "") + std::string("{\"n") + std::to_string(i % 1500) + std::string(i % 100, 'x') +
                "\":" + std::to_string(i) + "}";
    text += "]";
    const std::unique_ptr<TJSONValue> value = Parse(text);
    ASSERT_TRUE(value);
    const auto& array = static_cast<const TJSONArray&>(*value);
    ASSERT_EQ(array.Count(), 3000u);
    for (int i = 0; i < 3000; ++i) {
        const TJSONPair& member = static_cast<const TJSONObject&>(array.Item(i)).Pair(0);
        ASSERT_EQ(member.Name, QStringLiteral("n%1%2").arg(i % 1500).arg(QString(i % 100, u'x'))) << i;
        ASSERT_EQ(static_cast<const TJSONNumber&>(*member.Value).Literal(), QString::number(i));
    }
}

TEST(JsonParse, NumbersKeepTheirLiteralText)
{
    const char* literals[] = {"12.50",
                              "1e3",
                              "1E+3",
                              "-0",
                              "-0.000",
                              "0e1",
                              "1E400",
                              "-1e-400",
                              "123456789012345678901234567890",
                              "3.141592653589793238462643383279"};
    for (const char* literal : literals) {
        SCOPED_TRACE(literal);
        const std::unique_ptr<TJSONValue> value = Parse(std::string("[") + literal + "]");
        ASSERT_TRUE(value);
        const TJSONValue& item = static_cast<const TJSONArray&>(*value).Item(0);
        ASSERT_EQ(item.GetKind(), TJSONValue::Kind::Number);
        EXPECT_EQ(static_cast<const TJSONNumber&>(item).Literal(), QString::fromLatin1(literal));
    }
}

TEST(JsonParse, DuplicateMembersStayInDocumentOrder)
{
    const std::unique_ptr<TJSONValue> value = Parse(R"({"a":"1","b":"2","a":"3","a":null})");
    ASSERT_TRUE(value);
    const auto& object = static_cast<const TJSONObject&>(*value);
    ASSERT_EQ(object.Count(), 4u);
    const char* names[] = {"a", "b", "a", "a"};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(object.Pair(i).Name, QString::fromLatin1(names[i]));
    EXPECT_EQ(AsString(*object.Pair(2).Value).Value(), QStringLiteral("3"));
    EXPECT_EQ(object.Pair(3).Value->GetKind(), TJSONValue::Kind::Null);
    // Find gives the first member of that name.
    ASSERT_TRUE(object.Find(u"a"));
    EXPECT_EQ(AsString(*object.Find(u"a")).Value(), QStringLiteral("1"));
    EXPECT_FALSE(object.Find(u"A"));
}

std::string Nested(int depth, std::string_view open, std::string_view close, std::string_view inner = "")
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    text += inner;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

TEST(JsonParse, NestingIsLimitedWithoutExhaustingTheStack)
{
    EXPECT_TRUE(Parse(Nested(kMaxJsonDepth, "[", "]")));
    EXPECT_FALSE(Parse(Nested(kMaxJsonDepth + 1, "[", "]")));
    EXPECT_TRUE(Parse(Nested(kMaxJsonDepth, "{\"a\":", "}", "1")));
    EXPECT_FALSE(Parse(Nested(kMaxJsonDepth + 1, "{\"a\":", "}", "1")));
    EXPECT_TRUE(Parse(Nested(kMaxJsonDepth / 2, "[{\"a\":", "}]", "1")));
    EXPECT_FALSE(Parse(Nested(kMaxJsonDepth / 2 + 1, "[{\"a\":", "}]", "1")));
    // Far beyond the limit, closed and unclosed: refused, not a crash.
    EXPECT_FALSE(Parse(Nested(200000, "[", "]")));
    EXPECT_FALSE(Parse(std::string(200000, '[')));
    EXPECT_FALSE(Parse(Nested(100000, "{\"a\":[", "")));
}

TEST(JsonParse, TextFormParsesTheTextsUtf8)
{
    const std::unique_ptr<TJSONValue> value = ParseJsonText(QString::fromUtf8("{\"n\":\"Caff\xC3\xA8\"}"));
    ASSERT_TRUE(value);
    EXPECT_EQ(ReadPathText(*value, QStringLiteral("n")), QString::fromUtf8("Caff\xC3\xA8"));
    EXPECT_FALSE(ParseJsonText(QStringLiteral("{\"n\":}")));
    // An unpaired surrogate has no UTF-8 form: such a text is refused instead of being altered.
    QString lone = QStringLiteral("[\"x\"]");
    lone.insert(2, QChar(0xD800));
    EXPECT_FALSE(ParseJsonText(lone));
    QString pair = QStringLiteral("[\"x\"]");
    pair.insert(2, QString::fromUcs4(U"\U0001F600", 1));
    EXPECT_TRUE(ParseJsonText(pair));
}

} // namespace
