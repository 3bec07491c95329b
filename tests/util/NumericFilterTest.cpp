#include "util/NumericFilter.h"

#include "tests/support/Print.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A text box as the filter sees it, behaving like QLineEdit: SetText puts the caret at the end,
// SetCaret clears the selection.
class FakeBox : public INumericBox
{
public:
    // "12|3" puts the caret after "12"; "1[23]" selects "23".
    explicit FakeBox(QStringView state)
    {
        for (QChar c : state) {
            if (c == u'|')
                FSelStart = FText.size();
            else if (c == u'[')
                FSelStart = FText.size();
            else if (c == u']')
                FSelLength = FText.size() - FSelStart;
            else
                FText += c;
        }
    }

    QString State() const
    {
        if (FSelLength == 0)
            return FText.left(FSelStart) + u'|' + FText.mid(FSelStart);
        return FText.left(FSelStart) + u'[' + FText.mid(FSelStart, FSelLength) + u']' +
               FText.mid(FSelStart + FSelLength);
    }

    // What the box does with the filter's result.
    void Insert(QChar key)
    {
        if (key == QChar(8)) {
            if (FSelLength == 0 && FSelStart > 0) {
                --FSelStart;
                FSelLength = 1;
            }
            key = QChar();
        }
        FText.remove(FSelStart, FSelLength);
        if (!key.isNull())
            FText.insert(FSelStart++, key);
        FSelLength = 0;
    }

    QString Text() const override { return FText; }
    QString SelectedText() const override { return FText.mid(FSelStart, FSelLength); }
    int SelectionStart() const override { return FSelStart; }
    void SetText(const QString& text) override
    {
        FText = text;
        FSelStart = text.size();
        FSelLength = 0;
    }
    void SetCaret(int position) override
    {
        ASSERT_GE(position, 0);
        ASSERT_LE(position, FText.size());
        FSelStart = position;
        FSelLength = 0;
    }

private:
    QString FText;
    int FSelStart = 0;
    int FSelLength = 0;
};

QString TypeKeys(QStringView start, QStringView keys, qint32 decimals, qint32 intDigits, QChar sep)
{
    FakeBox box(start);
    for (QChar key : keys) {
        const QChar result = FilterNumericKey(&box, key, decimals, intDigits, sep);
        if (!result.isNull())
            box.Insert(result);
    }
    return box.State();
}

struct TypingCase
{
    const char* Name;
    const char16_t* Start;
    const char16_t* Keys;
    qint32 Decimals;
    qint32 IntDigits;
    char16_t Sep; // 0: the same under "," and under "."
    const char16_t* Expected;
};

void PrintTo(const TypingCase& c, std::ostream* os)
{
    *os << c.Name << ": " << Quoted(QString::fromUtf16(c.Keys)) << " typed into "
        << Quoted(QString::fromUtf16(c.Start)) << " gives " << Quoted(QString::fromUtf16(c.Expected));
}

const TypingCase kTypingCases[] = {
    // The interval box: 0 decimals, 4 integer digits.
    {"fourth digit, then no fifth", u"120|", u"56", 0, 4, 0, u"1205|"},
    {"whole selection is replaced", u"[1205]", u"7", 0, 4, 0, u"7|"},
    {"part of the selection is replaced", u"12[05]", u"9", 0, 4, 0, u"129|"},
    {"minus goes to the front", u"12|", u"-", 0, 4, 0, u"-12|"},
    {"minus again keeps the text, caret stays at the end", u"12|", u"--", 0, 4, 0, u"-12|"},
    {"plus replaces minus", u"12|", u"--+", 0, 4, 0, u"+12|"},
    {"sign into an empty box", u"|", u"-", 0, 4, 0, u"-|"},
    {"sign moves the caret one right", u"1|2", u"+", 0, 4, 0, u"+1|2"},
    {"the sign does not count against the digits", u"-1234|", u"5", 0, 4, 0, u"-1234|"},
    {"no separator with 0 decimals", u"12|", u".,", 0, 4, 0, u"12|"},
    {"sign does not replace the selection", u"[123]", u"-", 0, 4, 0, u"-|123"},
    {"digit before the sign", u"|-12", u"1", 0, 4, 0, u"1|-12"},
    {"letters, blanks and control characters are discarded", u"1|", u"a \t\r\x1b", 0, 4, 0, u"1|"},
    {"backspace passes", u"12|", u"\b", 0, 4, 0, u"1|"},
    {"backspace over a selection", u"1[23]", u"\b", 0, 4, 0, u"1|"},
    {"a key above code 255 is discarded", u"1|", u"\u0661\u20ac", 0, 4, 0, u"1|"},
    // Other limits.
    {"no third decimal", u"123,45|", u"6", 2, 5, u',', u"123,45|"},
    {"integer digit before the separator", u"123|,45", u"6", 2, 5, u',', u"1236|,45"},
    {"point becomes comma", u"12|", u".", 2, 5, u',', u"12,|"},
    {"comma becomes point", u"12|", u",", 2, 5, u'.', u"12.|"},
    {"second separator refused", u"12,5|", u",.", 2, 5, u',', u"12,5|"},
    {"separator inside the selection may be typed again", u"12[,5]", u",", 2, 5, u',', u"12,|"},
    {"a selected decimal does not make room for another", u"1,2[2]", u"3", 2, 5, u',', u"1,2[2]"},
    {"a replaced sign keeps decimals + digits + 1 characters", u"-123456789|", u"+", 2, 5, 0, u"+12345678|"},
    {"decimals up to the limit", u"1,|", u"234", 2, 5, u',', u"1,23|"},
    {"the limits count every character, not only digits", u"a b|", u"12", 0, 4, 0, u"a b1|"},
};

class NumericFilterTyping : public testing::TestWithParam<TypingCase>
{
};

TEST_P(NumericFilterTyping, LeavesTheBoxAsExpected)
{
    const TypingCase& c = GetParam();
    std::vector<QChar> separators;
    if (c.Sep != 0)
        separators = {QChar(c.Sep)};
    else
        separators = {QChar(u','), QChar(u'.')};
    for (QChar sep : separators) {
        SCOPED_TRACE(std::string("separator ") + char(sep.unicode()));
        EXPECT_EQ(TypeKeys(c.Start, c.Keys, c.Decimals, c.IntDigits, sep), QString::fromUtf16(c.Expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, NumericFilterTyping, testing::ValuesIn(kTypingCases),
                         [](const testing::TestParamInfo<TypingCase>& info) {
                             return TestNameOf(info.param.Name);
                         });

TEST(NumericFilter, ReturnsTheKeyItInserts)
{
    FakeBox box(u"12|");
    EXPECT_EQ(FilterNumericKey(&box, u'.', 2, 5, u','), QChar(u','));
    EXPECT_EQ(FilterNumericKey(&box, u'3', 2, 5, u','), QChar(u'3'));
    EXPECT_TRUE(FilterNumericKey(&box, u'x', 2, 5, u',').isNull());
    EXPECT_TRUE(FilterNumericKey(&box, u'-', 2, 5, u',').isNull()); // the filter put it there itself
    EXPECT_EQ(box.State(), QStringLiteral("-12|"));
}

TEST(NumericFilter, ANonTextBoxGetsEveryKeyUnchanged)
{
    for (QChar key : {QChar(u'a'), QChar(u'.'), QChar(u'-'), QChar(8), QChar(0x20ac)})
        EXPECT_EQ(FilterNumericKey(nullptr, key, 0, 4, u','), key);
}

// A separator outside Latin-1 (Arabic U+066B) must be typeable as itself, and must not let the
// letter that shares its low 8 bits ("k", 0x6B) through as a digit.
TEST(NumericFilter, WideSeparatorAdmitsNoAliasKey)
{
    const QChar arabic(0x066B);
    EXPECT_EQ(TypeKeys(u"12|", u"\u066B5", 2, 5, arabic), QString::fromUtf16(u"12\u066B5|"));
    EXPECT_EQ(TypeKeys(u"12|", u"kK", 2, 5, arabic), QStringLiteral("12|"));
    EXPECT_FALSE(NumericKeySet(arabic)[0x6B]);
    EXPECT_EQ(NumericKeySet(arabic).count(), 12u);
    EXPECT_EQ(NumericKeySet(u',').count(), 13u);
    EXPECT_TRUE(NumericKeySet(u',')[u',']);
}

TEST(NumericFilter, DeleteFirstOccurrence)
{
    const struct
    {
        const char* Sub;
        const char* S;
        const char* Expected;
    } cases[] = {
        {"", "abc", "abc"}, {"b", "abcb", "acb"}, {"x", "abc", "abc"},
        {"abc", "abc", ""}, {"B", "abc", "abc"},  {"23", "1232", "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Sub) + " in " + c.S);
        EXPECT_EQ(DeleteFirstOccurrence(QString::fromLatin1(c.Sub), QString::fromLatin1(c.S)),
                  QString::fromLatin1(c.Expected));
    }
}

TEST(NumericFilter, DigitCountsSkipOnlyTheFirstSigns)
{
    const struct
    {
        const char* S;
        qint32 Before;
        qint32 After;
    } cases[] = {
        {"", 0, 0},        {"12", 2, 0},    {",", 0, 0},     {"12,345", 2, 3},
        {"-1+2,34", 2, 2}, {"--1,2", 2, 1}, {"1,2,3", 1, 3}, {"a b,c", 3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.S);
        EXPECT_EQ(DigitsBeforeSeparator(QString::fromLatin1(c.S), u','), c.Before);
        EXPECT_EQ(DigitsAfterSeparator(QString::fromLatin1(c.S), u','), c.After);
        // Under "." the comma is just another character.
        EXPECT_EQ(DigitsAfterSeparator(QString::fromLatin1(c.S), u'.'), 0);
    }
}

} // namespace
