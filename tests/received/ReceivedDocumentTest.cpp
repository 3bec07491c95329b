// A downloaded document's Base64 decoding and its safe name.

#include "received/ReceivedDocument.h"
#include "util/Errors.h"

#include <gtest/gtest.h>

namespace {

TEST(ReceivedDocumentTest, DecodesBase64WithLineBreaksAndWithoutPadding)
{
    const struct
    {
        const char* Text;
        QByteArray Bytes;
    } cases[] = {
        {"PD94bWw/Pg==", "<?xml?>"},
        {"PD94\r\nbWw/\nPg==", "<?xml?>"},
        {"PD94bWw/Pg", "<?xml?>"},
        {"  QUJD  ", "ABC"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(DecodeDocumentBase64(QString::fromLatin1(c.Text)), c.Bytes);
    }
}

TEST(ReceivedDocumentTest, RefusesTextThatIsNotBase64)
{
    for (const char* text : {"PD94*bWw=", "PD9=4bWw", "QUJ=D", "A", "QUJDè"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(DecodeDocumentBase64(QString::fromUtf8(text)), EVornError);
    }
}

TEST(ReceivedDocumentTest, SafeNamesAreBareNames)
{
    const struct
    {
        const char* Suggested;
        const char* Id;
        const char* Name;
    } cases[] = {
        {"IT01234567890_00001.xml", "1", "IT01234567890_00001.xml"},
        {"../../etc/cron.d/x", "1", "x"},
        {"C:\\fatture\\IT01_2.xml.p7m", "1", "IT01_2.xml.p7m"},
        {"cartella/", "9", "fattura_9"},
        {".", "9", "fattura_9"},
        {"..", "9", "fattura_9"},
        {".bashrc", "9", "bashrc"},
        {"nome. . ", "9", "nome"},
        {"a<b>c:d\"e|f?g*h.xml", "9", "abcdefgh.xml"},
        {"riga\nnuova\t.xml", "9", "riganuova.xml"},
        {"", "../12/34", "fattura_..1234"},
        {"", "", "fattura_"},
        {"Caffè €.xml", "1", "Caffè €.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Suggested);
        const QString name = SafeDocumentFileName(QString::fromUtf8(c.Suggested), QString::fromUtf8(c.Id));
        EXPECT_EQ(name, QString::fromUtf8(c.Name));
        EXPECT_FALSE(name.contains(u'/'));
        EXPECT_FALSE(name.contains(u'\\'));
    }
}

// Names longer than a file system takes lose the end of their text, never their extension; the
// name of a second invoice of that name carries its identifier within the same limit.
TEST(ReceivedDocumentTest, NamesKeepTheirExtensionWithinTheFileSystemsLimit)
{
    const QString longA(300, u'a');
    const QString longE(200, QChar(0xE8)); // "è", two bytes in a file name
    const struct
    {
        QString Suggested;
        QString Id;
        QString Safe;
        QString WithId;
    } cases[] = {
        {QStringLiteral("IT01_00A1B.xml"), QStringLiteral("900004"), QStringLiteral("IT01_00A1B.xml"),
         QStringLiteral("IT01_00A1B_900004.xml")},
        {QStringLiteral("IT01_2.XML.p7m"), QStringLiteral("7"), QStringLiteral("IT01_2.XML.p7m"),
         QStringLiteral("IT01_2_7.XML.p7m")},
        {QString(), QStringLiteral("9"), QStringLiteral("fattura_9"), QStringLiteral("fattura_9_9")},
        {QStringLiteral("\u202Eevil\u202C\u00AD.xml"), QStringLiteral("1\n2"), QStringLiteral("evil.xml"),
         QStringLiteral("evil_12.xml")},
        {QStringLiteral("nota.una-parte-troppo-lunga"), QStringLiteral("3"),
         QStringLiteral("nota.una-parte-troppo-lunga"), QStringLiteral("nota.una-parte-troppo-lunga_3")},
        {longA + QStringLiteral(".xml"), QStringLiteral("12"), QString(251, u'a') + QStringLiteral(".xml"),
         QString(248, u'a') + QStringLiteral("_12.xml")},
        {longE + QStringLiteral(".xml.p7m"), QStringLiteral("5"),
         QString(123, QChar(0xE8)) + QStringLiteral(".xml.p7m"),
         QString(122, QChar(0xE8)) + QStringLiteral("_5.xml.p7m")},
        {QStringLiteral("\U0001F4C4").repeated(100) + QStringLiteral(".xml"), QStringLiteral("6"),
         QStringLiteral("\U0001F4C4").repeated(62) + QStringLiteral(".xml"),
         QStringLiteral("\U0001F4C4").repeated(62) + QStringLiteral("_6.xml")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Suggested.toStdString());
        const QString safe = SafeDocumentFileName(c.Suggested, c.Id);
        EXPECT_EQ(safe, c.Safe);
        EXPECT_EQ(FileNameWithIdentifier(safe, c.Id), c.WithId);
        EXPECT_LE(FileNameWithIdentifier(safe, c.Id).toUtf8().size(), 255);
    }
}

} // namespace
