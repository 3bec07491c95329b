// The settings as the system stores them and checks them: the password codec, the firm type.

#include "config/Settings.h"
#include "util/Errors.h"

#include <gtest/gtest.h>

namespace {

const QString kNoMapping =
    QStringLiteral("No mapping for the Unicode character exists in the target multi-byte code page");

TEST(PasswordTest, IsStoredAsUtf8Base64OnOneLine)
{
    struct TCase
    {
        QString password;
        QString stored;
    };
    const TCase cases[] = {{"", ""},
                           {"abc", "YWJj"},
                           {"  abc \t", "YWJj"},
                           {"ab", "YWI="},
                           {"Città€", "Q2l0dMOg4oKs"},
                           {QString(57, u'x'), QString::fromLatin1(QByteArray(57, 'x').toBase64())}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password.toStdString());
        EXPECT_EQ(EncodePassword(c.password), c.stored);
    }
    EXPECT_EQ(EncodePassword(QString(57, u'x')).size(), 76);
    const QString longPassword(500, u'p');
    EXPECT_FALSE(EncodePassword(longPassword).contains(u'\n'));
    EXPECT_EQ(DecodePassword(EncodePassword(longPassword)), longPassword);
    EXPECT_EQ(DecodePassword(EncodePassword("Città€😀")), "Città€😀");
}

TEST(PasswordTest, DecodingIsLenient)
{
    struct TCase
    {
        const char* stored;
        QString password;
    };
    const TCase cases[] = {{"", ""},
                           {"YWJj", "abc"},
                           {"YW\r\nJj", "abc"},
                           {" Y W J j ", "abc"},
                           {"YWI=", "ab"},
                           {"YWI", "ab"},
                           {"YQ", "a"},
                           {"Y", ""},
                           {"==YQ==", "a"},
                           {"YQ==YQ==", QString::fromLatin1("a\x06\x10")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(DecodePassword(c.stored), c.password);
    }
}

TEST(PasswordTest, BytesThatAreNotUtf8Fail)
{
    const QByteArray invalid[] = {"\xC0\xAF", "\xE0\x80\xAF",     "\xED\xA0\x80", "\xE2\x82",
                                  "abc\x80",  "\xF4\x90\x80\x80", "\xFF",         "\xF0\x9F\x98"};
    for (const auto& bytes : invalid) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        try {
            DecodePassword(QString::fromLatin1(bytes.toBase64()));
            ADD_FAILURE() << "decoded";
        } catch (const EVornError& e) {
            EXPECT_EQ(e.Message(), kNoMapping);
        }
    }
    EXPECT_EQ(DecodePassword(QString::fromLatin1(QByteArray("\xEF\xBB\xBFx").toBase64())),
              QStringView(u"\uFEFFx").toString())
        << "a leading U+FEFF is part of the password";
}

} // namespace

TEST(FirmTypeTest, IsOneHostNameLabel)
{
    // Anything else would take the request, and the credentials with it, to another host.
    const struct
    {
        QString FirmType;
        bool Valid;
    } cases[] = {
        {QStringLiteral("aziende"), true},
        {QStringLiteral("Professionisti"), true},
        {QStringLiteral("test-2"), true},
        {QString(63, u'a'), true},
        {QString(64, u'a'), false},
        {QString(), false},
        {QStringLiteral("127.0.0.1:47500/x?"), false},
        {QStringLiteral("evil.example#"), false},
        {QStringLiteral("a.b"), false},
        {QStringLiteral("user@host"), false},
        {QStringLiteral("-aziende"), false},
        {QStringLiteral("aziende-"), false},
        {QStringLiteral(" aziende"), false},
        {QStringLiteral("aziènde"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.FirmType.toStdString());
        if (c.Valid) {
            EXPECT_EQ(CheckFirmType(c.FirmType), c.FirmType);
            continue;
        }
        try {
            CheckFirmType(c.FirmType);
            ADD_FAILURE() << "accepted";
        } catch (const EVornError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("FirmType non valido: \"%1\" (un'etichetta di nome host: lettere, "
                                                  "cifre e trattini, al massimo 63 caratteri)")
                                       .arg(c.FirmType));
        }
    }
}
