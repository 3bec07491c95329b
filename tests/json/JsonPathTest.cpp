#include "tests/json/JsonTestUtil.h"
#include "tests/support/Failure.h"
#include "json/Json.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

constexpr std::string_view kAnswer = R"({
  "error": "",
  "result": {
    "Esito": "OK", "amount": 12.50, "yes": true, "no": false, "none": null,
    "inner": {"x": "deep", "a.b": "dotted"}, "list": [{"x": 1}], "dup": "first", "dup": "second"
  },
  "Result": {"Esito": "upper"},
  "": {"": "empty names"}
})";

class JsonPath : public testing::Test
{
protected:
    void SetUp() override
    {
        FAnswer = Parse(kAnswer);
        ASSERT_TRUE(FAnswer);
    }
    const TJSONValue& Answer() const { return *FAnswer; }

private:
    std::unique_ptr<TJSONValue> FAnswer;
};

struct TTextCase
{
    const char* Path;
    std::optional<const char*> Text; // nothing: the read fails with Failure
    const char* Failure;
};

// ReadPathText and TryReadPathText agree: the same text where one succeeds, false where it fails.
TEST_F(JsonPath, TextReadersConvertScalarsAndFailOnEverythingElse)
{
    const TTextCase cases[] = {
        {"error", "", nullptr},
        {"result.Esito", "OK", nullptr},
        {"result.amount", "12.50", nullptr},
        {"result.yes", "true", nullptr},
        {"result.no", "false", nullptr},
        {"result.none", "", nullptr},
        {"result.inner.x", "deep", nullptr},
        {"result.dup", "first", nullptr},
        {"Result.Esito", "upper", nullptr},
        {".", "empty names", nullptr},
        {"result.inner", std::nullopt, "Conversion from TJSONObject to string is not supported"},
        {"result.list", std::nullopt, "Conversion from TJSONArray to string is not supported"},
        {"result.esito", std::nullopt, "Value 'result.esito' not found"},
        {"Error", std::nullopt, "Value 'Error' not found"},
        {"result.list.x", std::nullopt, "Value 'result.list.x' not found"},
        {"result.Esito.x", std::nullopt, "Value 'result.Esito.x' not found"},
        {"result.none.x", std::nullopt, "Value 'result.none.x' not found"},
        {"result.inner.a.b", std::nullopt, "Value 'result.inner.a.b' not found"},
        {"result.", std::nullopt, "Value 'result.' not found"},
        {"", std::nullopt, "Conversion from TJSONObject to string is not supported"}, // the name ""
    };
    for (const TTextCase& c : cases) {
        SCOPED_TRACE(c.Path);
        const QString path = QString::fromLatin1(c.Path);
        QString text = QStringLiteral("stale");
        const bool found = TryReadPathText(Answer(), path, text);
        if (c.Text) {
            EXPECT_EQ(ReadPathText(Answer(), path), QString::fromLatin1(*c.Text));
            EXPECT_TRUE(found);
            EXPECT_EQ(text, QString::fromLatin1(*c.Text));
        } else {
            EXPECT_EQ(FailureOf([&] { ReadPathText(Answer(), path); }), QString::fromLatin1(c.Failure));
            EXPECT_FALSE(found);
            EXPECT_TRUE(text.isEmpty());
        }
    }
}

struct TKindCase
{
    const char* Path;
    const char* ObjectFailure; // null: ReadPathObject succeeds
    const char* ArrayFailure;  // null: ReadPathArray succeeds
};

TEST_F(JsonPath, ObjectAndArrayReadersWantTheirKind)
{
    const TKindCase cases[] = {
        {"result", nullptr, "Invalid class typecast"},
        {"result.inner", nullptr, "Invalid class typecast"},
        {"result.list", "Invalid class typecast", nullptr},
        {"result.none", "Invalid class typecast", "Invalid class typecast"},
        {"result.Esito", "Invalid class typecast", "Invalid class typecast"},
        {"result.amount", "Invalid class typecast", "Invalid class typecast"},
        {"result.yes", "Invalid class typecast", "Invalid class typecast"},
        {"result.missing", "Value 'result.missing' not found", "Value 'result.missing' not found"},
    };
    for (const TKindCase& c : cases) {
        SCOPED_TRACE(c.Path);
        const QString path = QString::fromLatin1(c.Path);
        const TJSONValue* found = FindPath(Answer(), path);
        if (c.ObjectFailure)
            EXPECT_EQ(FailureOf([&] { ReadPathObject(Answer(), path); }),
                      QString::fromLatin1(c.ObjectFailure));
        else
            EXPECT_EQ(&ReadPathObject(Answer(), path), found);
        if (c.ArrayFailure)
            EXPECT_EQ(FailureOf([&] { ReadPathArray(Answer(), path); }), QString::fromLatin1(c.ArrayFailure));
        else
            EXPECT_EQ(&ReadPathArray(Answer(), path), found);
    }
}

TEST_F(JsonPath, ValueReaderGivesAnyKindFromInsideTheTree)
{
    const auto& result = static_cast<const TJSONObject&>(*FindPath(Answer(), QStringLiteral("result")));
    EXPECT_EQ(&ReadPathValue(Answer(), QStringLiteral("result.none")), result.Find(u"none"));
    EXPECT_EQ(&ReadPathValue(Answer(), QStringLiteral("result.list")), result.Find(u"list"));
    EXPECT_EQ(ReadPathValue(Answer(), QStringLiteral("result.amount")).GetKind(), TJSONValue::Kind::Number);
    EXPECT_EQ(FailureOf([&] { ReadPathValue(Answer(), QStringLiteral("result.x")); }),
              QStringLiteral("Value 'result.x' not found"));
}

TEST(JsonPathRoot, LookupInsideAScalarOrArrayRootFindsNothing)
{
    for (std::string_view root : {"[{\"error\":\"\"}]", "\"error\"", "null", "{}", "12"}) {
        SCOPED_TRACE(std::string(root));
        const auto value = Parse(root);
        ASSERT_TRUE(value);
        EXPECT_EQ(FindPath(*value, QStringLiteral("error")), nullptr);
        EXPECT_EQ(FailureOf([&] { ReadPathText(*value, QStringLiteral("error")); }),
                  QStringLiteral("Value 'error' not found"));
    }
}

} // namespace
