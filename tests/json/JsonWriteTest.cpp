#include "tests/json/JsonTestUtil.h"
#include "json/Json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

QString Utf16(std::u16string_view units)
{
    return QString(reinterpret_cast<const QChar*>(units.data()), static_cast<qsizetype>(units.size()));
}

struct TWritten
{
    std::u16string_view Text;
    const char* Expected; // the escaped string, quotes included
};

TEST(JsonWrite, StringsAreEscapedIntoPureAscii)
{
    const TWritten cases[] = {
        {u"", R"("")"},
        {u"plain text 0-9 ~", R"("plain text 0-9 ~")"},
        {u"\"\\/", R"("\"\\\/")"},
        {u"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {std::u16string_view(u"\0\x01\x0B\x1F", 4), R"("\u0000\u0001\u000B\u001F")"},
        {u" \x7F", "\" \x7F\""}, // the space and DEL stand for themselves
        {u"\x80\u00E8\u20AC\uFFFF", R"("\u0080\u00E8\u20AC\uFFFF")"},
        {u"\U0001F600", R"("\uD83D\uDE00")"}, // each UTF-16 code unit on its own
        {u"\xD800"
         u"a",
         R"("\uD800a")"}, // a lone surrogate as well
        {u"http://x/y?a=1&b=\"2\"", R"("http:\/\/x\/y?a=1&b=\"2\"")"},
    };
    for (const TWritten& c : cases) {
        SCOPED_TRACE(c.Expected);
        EXPECT_EQ(ToJsonText(TJSONString(Utf16(c.Text))), QString::fromLatin1(c.Expected));
    }
}

TEST(JsonWrite, CompactFormOfABuiltTree)
{
    TJSONObject object;
    object.Add(QStringLiteral("a/b"), std::make_unique<TJSONNumber>(QStringLiteral("12.50")));
    auto array = std::make_unique<TJSONArray>();
    array->Add(std::make_unique<TJSONBool>(true));
    array->Add(std::make_unique<TJSONBool>(false));
    array->Add(std::make_unique<TJSONNull>());
    array->Add(std::make_unique<TJSONObject>());
    array->Add(std::make_unique<TJSONArray>());
    object.Add(QStringLiteral("list"), std::move(array));
    object.Add(QStringLiteral("a/b"), std::make_unique<TJSONString>(QStringLiteral("\n")));
    EXPECT_EQ(ToJsonText(object),
              QStringLiteral(R"({"a\/b":12.50,"list":[true,false,null,{},[]],"a\/b":"\n"})"));
}

TEST(JsonWrite, ParsedTextsComeBackCompactWithTheirLiterals)
{
    const std::unique_ptr<TJSONValue> value =
        Parse("{ \"error\" : \"\" ,\n \"result\" : { \"n\" : 1E+3 , \"s\" : \"Caff\xC3\xA8 \\u00e8\" } }");
    ASSERT_TRUE(value);
    EXPECT_EQ(ToJsonText(*value),
              QStringLiteral(R"({"error":"","result":{"n":1E+3,"s":"Caff\u00E8 \u00E8"}})"));
}

// Serialising and parsing again gives the same tree, and serialising that gives the same text.
TEST(JsonWrite, RoundTripGivesAnEqualTree)
{
    const std::string_view texts[] = {
        R"({"error":"","result":{"NumeroTotale":"2","seq_FATTURE":[{"IdFattura":"1"},{"IdFattura":2}]}})",
        R"([null,true,false,-0,1e-7,"",{},[],{"":{"":[]}}])",
        R"({"a":1,"a":2,"a":{"a":[3]}})",
        R"(["\"\\\/\b\f\n\r\t\u0000\u001f\u007f\u0080\uD83D\uDE00\uDFFF\uD800"])",
        "[\"\xC3\xA8\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBF\"]",
        "{\"\xC3\xA8\":\"\\u00e8\",\"k\\n\":\"v\"}",
    };
    for (std::string_view text : texts) {
        SCOPED_TRACE(std::string(text));
        const std::unique_ptr<TJSONValue> first = Parse(text);
        ASSERT_TRUE(first);
        const QString serialised = ToJsonText(*first);
        for (QChar c : serialised)
            ASSERT_LT(c.unicode(), 0x80) << "not pure ASCII: " << serialised.toStdString();
        const std::unique_ptr<TJSONValue> second = ParseJsonText(serialised);
        ASSERT_TRUE(second);
        EXPECT_TRUE(JsonEquals(*first, *second));
        EXPECT_EQ(ToJsonText(*second), serialised);
    }
}

TEST(JsonWrite, EqualityLooksAtKindsTextsLiteralsAndOrder)
{
    const std::pair<std::string_view, std::string_view> different[] = {
        {"1", "1.0"},
        {"\"1\"", "1"},
        {"true", "false"},
        {"null", "{}"},
        {"[]", "{}"},
        {"[1,2]", "[2,1]"},
        {"[1]", "[1,1]"},
        {R"({"a":1})", R"({"A":1})"},
        {R"({"a":1,"b":2})", R"({"b":2,"a":1})"},
        {R"({"a":1})", R"({"a":1,"a":1})"},
        {R"({"a":[{}]})", R"({"a":[[]]})"},
    };
    for (const auto& [left, right] : different) {
        SCOPED_TRACE(std::string(left) + " vs " + std::string(right));
        const auto a = Parse(left);
        const auto b = Parse(right);
        ASSERT_TRUE(a && b);
        EXPECT_FALSE(JsonEquals(*a, *b));
        EXPECT_TRUE(JsonEquals(*a, *Parse(left)));
    }
}

} // namespace
