// What vorn-cli prints: no control character of a backend text or a file name reaches the
// terminal, and a text cannot add a line of its own.

#include "cli/CliFormat.h"

#include <gtest/gtest.h>

namespace {

TEST(CliFormatTest, ControlCharactersNeverReachTheTerminal)
{
    const QString r(QChar::ReplacementCharacter);
    const struct
    {
        QString Text;
        QString Kept;     // TLineBreaks::Keep
        QString Replaced; // TLineBreaks::Replace
    } cases[] = {
        {QStringLiteral("Caffè €.xml"), QStringLiteral("Caffè €.xml"), QStringLiteral("Caffè €.xml")},
        {QStringLiteral("\x1b[2J\x1b]0;titolo\x07"), r + "[2J" + r + "]0;titolo" + r,
         r + "[2J" + r + "]0;titolo" + r},
        {QStringLiteral("a\u009b31mb\u0085c"), "a" + r + "31mb" + r + "c", "a" + r + "31mb" + r + "c"},
        {QStringLiteral("del\x7f\u00a0"), "del" + r + QChar(0xA0), "del" + r + QChar(0xA0)},
        {QStringLiteral("riga\nfalsa\r\t"), "riga\nfalsa" + r + r, "riga" + r + "falsa" + r + r},
        {QString(QChar(0)) + u'x', r + u'x', r + u'x'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        EXPECT_EQ(PrintableText(c.Text, TLineBreaks::Keep), c.Kept);
        EXPECT_EQ(PrintableText(c.Text, TLineBreaks::Replace), c.Replaced);
    }
}

// A backend value with a line break stays on its own line in a record's text and in a table.
TEST(CliFormatTest, ABackendTextCannotAddALine)
{
    EXPECT_EQ(FormatNameValueLines({QStringLiteral("Stato"), QStringLiteral("Id")},
                                   {QStringLiteral("RC\nEsito: OK"), QStringLiteral("7")}),
              QStringLiteral("Stato: RC Esito: OK\nId:    7\n"));
    EXPECT_EQ(FormatTable({QStringLiteral("Nome")}, {{QStringLiteral("a\r\nb")}}),
              QStringLiteral("Nome\na  b\n"));
}

} // namespace
