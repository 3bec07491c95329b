// The JSONTestSuite conformance corpus, read from beside the source tree at test time: y_ files
// must parse, n_ files must be refused, and each i_ file (the implementation's choice) gives the
// outcome pinned below.

#include "json/Json.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <map>

namespace {

// Accepted: numbers of any size (their literal text is kept) and "\u" escapes of lone surrogates
// (kept as code units). Refused: every text that is not well-formed UTF-8, and byte order marks.
const std::map<QString, bool> kImplementationDefined = {
    {"i_number_double_huge_neg_exp.json", true},
    {"i_number_huge_exp.json", true},
    {"i_number_neg_int_huge_exp.json", true},
    {"i_number_pos_double_huge_exp.json", true},
    {"i_number_real_neg_overflow.json", true},
    {"i_number_real_pos_overflow.json", true},
    {"i_number_real_underflow.json", true},
    {"i_number_too_big_neg_int.json", true},
    {"i_number_too_big_pos_int.json", true},
    {"i_number_very_big_negative_int.json", true},
    {"i_object_key_lone_2nd_surrogate.json", true},
    {"i_string_1st_surrogate_but_2nd_missing.json", true},
    {"i_string_1st_valid_surrogate_2nd_invalid.json", true},
    {"i_string_UTF-16LE_with_BOM.json", false},
    {"i_string_UTF-8_invalid_sequence.json", false},
    {"i_string_UTF8_surrogate_U+D800.json", false},
    {"i_string_incomplete_surrogate_and_escape_valid.json", true},
    {"i_string_incomplete_surrogate_pair.json", true},
    {"i_string_incomplete_surrogates_escape_valid.json", true},
    {"i_string_invalid_lonely_surrogate.json", true},
    {"i_string_invalid_surrogate.json", true},
    {"i_string_invalid_utf-8.json", false},
    {"i_string_inverted_surrogates_U+1D11E.json", true},
    {"i_string_iso_latin_1.json", false},
    {"i_string_lone_second_surrogate.json", true},
    {"i_string_lone_utf8_continuation_byte.json", false},
    {"i_string_not_in_unicode_range.json", false},
    {"i_string_overlong_sequence_2_bytes.json", false},
    {"i_string_overlong_sequence_6_bytes.json", false},
    {"i_string_overlong_sequence_6_bytes_null.json", false},
    {"i_string_truncated-utf-8.json", false},
    {"i_string_utf16BE_no_BOM.json", false},
    {"i_string_utf16LE_no_BOM.json", false},
    {"i_structure_500_nested_arrays.json", true},
    {"i_structure_UTF-8_BOM_empty_object.json", false},
};

QStringList CorpusFiles(const QString& prefix)
{
    return QDir(QStringLiteral(VORN_JSON_TEST_SUITE_DIR))
        .entryList({prefix + QStringLiteral("_*.json")}, QDir::Files, QDir::Name);
}

QByteArray ReadCorpusFile(const QString& name)
{
    QFile file(QDir(QStringLiteral(VORN_JSON_TEST_SUITE_DIR)).filePath(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

// Every accepted text must also survive serialising and parsing again unchanged.
void ExpectRoundTrip(const TJSONValue& value)
{
    const std::unique_ptr<TJSONValue> again = ParseJsonText(ToJsonText(value));
    ASSERT_TRUE(again);
    EXPECT_TRUE(JsonEquals(value, *again));
}

class JsonTestSuite : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDir(QStringLiteral(VORN_JSON_TEST_SUITE_DIR)).exists())
            GTEST_SKIP() << "no JSONTestSuite corpus at " << VORN_JSON_TEST_SUITE_DIR;
    }
};

TEST_F(JsonTestSuite, MustAcceptFilesParse)
{
    const QStringList files = CorpusFiles(QStringLiteral("y"));
    EXPECT_GE(files.size(), 90);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const std::unique_ptr<TJSONValue> value = ParseJsonUtf8(ReadCorpusFile(name));
        ASSERT_TRUE(value);
        ExpectRoundTrip(*value);
    }
}

TEST_F(JsonTestSuite, MustRejectFilesAreRefused)
{
    const QStringList files = CorpusFiles(QStringLiteral("n"));
    EXPECT_GE(files.size(), 180);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(ParseJsonUtf8(ReadCorpusFile(name)));
    }
}

TEST_F(JsonTestSuite, ImplementationDefinedFilesGiveThePinnedOutcome)
{
    const QStringList files = CorpusFiles(QStringLiteral("i"));
    EXPECT_EQ(static_cast<std::size_t>(files.size()), kImplementationDefined.size());
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const auto choice = kImplementationDefined.find(name);
        ASSERT_NE(choice, kImplementationDefined.end()) << "no outcome chosen for this file";
        const std::unique_ptr<TJSONValue> value = ParseJsonUtf8(ReadCorpusFile(name));
        EXPECT_EQ(value != nullptr, choice->second);
        if (value)
            ExpectRoundTrip(*value);
    }
}

} // namespace
