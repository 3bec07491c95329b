// Archive names as the dispatch builds them, read back as track reads them, and what makes a name
// an invoice's.

#include "dispatch/ArchiveName.h"
#include "tests/support/Print.h"

#include <gtest/gtest.h>

namespace {

const QStringList kXmlMask{".xml", ".p7m"};

QString Repeated(const char* text, int times)
{
    return QString::fromUtf8(text).repeated(times);
}

TEST(ArchiveNameTest, BuiltNamesFitAndGiveTheirQueueIdentifierBack)
{
    const QString e240 = Repeated("\xc3\xa8", 120); // 120 characters, 240 bytes
    const QString emoji = Repeated("\xf0\x9f\x98\x80", 62);
    const struct
    {
        QString N;
        QString IdCoda;
        QString Archived;
    } cases[] = {
        {"IT01234567890_00001.XML", "4711", "IT01234567890_00001_4711.xml"},
        {"IT01234567890_00001.xml.p7m", "17", "IT01234567890_00001.xml_17.p7m"},
        {"fattura_a.b.xml", "17", "fattura_a.b_17.xml"},
        {"vuota.xml", "", "vuota_.xml"},
        // Over 255 bytes: the base loses whole characters, "_<IdCoda>" and the extension stay.
        {QString(251, 'a') + ".xml", "123456", QString(244, 'a') + "_123456.xml"},
        {e240 + ".xml", "1234567890", Repeated("\xc3\xa8", 120) + "_1234567890.xml"},
        {e240 + "xyz.xml.p7m", "1234", e240 + "xyz.xm_1234.p7m"},
        {"a" + e240 + "b.xml", "12345678901", "a" + Repeated("\xc3\xa8", 119) + "_12345678901.xml"},
        {emoji + ".xml", "1234567", Repeated("\xf0\x9f\x98\x80", 60) + "_1234567.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.N.toStdString());
        const std::optional<TArchiveName> parts = ArchiveNameOf(c.N, kXmlMask);
        ASSERT_TRUE(parts);
        const QString archived = ArchiveFileName(*parts, c.IdCoda);
        EXPECT_EQ(archived, c.Archived);
        EXPECT_LE(archived.toUtf8().size(), kMaxFileNameBytes);
        EXPECT_EQ(QueueIdentifierOfArchiveName(archived), c.IdCoda);
    }
}

TEST(ArchiveNameTest, NamesWithoutAQueueIdentifierReadBackEmpty)
{
    for (const char* name : {"IT01234567890.xml", "_.xml", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(QueueIdentifierOfArchiveName(name), "");
    }
    EXPECT_EQ(QueueIdentifierOfArchiveName("IT01234567890_00001_17"), "17");
}

TEST(ArchiveNameTest, AnInvoicesExtensionAndTheMasksPart)
{
    const struct
    {
        const char* Name;
        const char* Extension;    // InvoiceExtension
        const char* MaskedBase;   // ArchiveNameOf's base, or nullptr when the mask takes no part
    } cases[] = {
        {"a.xml", ".xml", "a"},
        {"A.XML", ".XML", "A"},
        {"a.xml.p7m", ".xml.p7m", "a.xml"},
        {"a.XML.P7M", ".XML.P7M", "a.XML"},
        {"a.p7m", ".p7m", "a"},
        {"a.txt.p7m", ".p7m", "a.txt"},
        {".xml.p7m", ".p7m", ".xml"},
        {".xml", "", ""},
        {"a.xml.bak", "", nullptr},
        {"a.xmlx", "", nullptr},
        {"senza_punto", "", nullptr},
        {"finisce.", "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(InvoiceExtension(c.Name), c.Extension);
        const std::optional<TArchiveName> parts = ArchiveNameOf(c.Name, kXmlMask);
        ASSERT_EQ(parts.has_value(), c.MaskedBase != nullptr);
        if (parts) {
            EXPECT_EQ(parts->Base, c.MaskedBase);
        }
    }
}

} // namespace
