// The settings as the system stores them and checks them: the defaults, the checks of what a
// person enters with their messages, the firm type, the password codec.

#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "tests/support/Files.h"
#include "util/Errors.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

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

// What a file without the key gives; a key present with an empty value is read as the empty text.
TEST(SettingsTest, AMissingKeyReadsAsItsDefault)
{
    struct TRow
    {
        TSetting Setting;
        QVariant Default;
    };
    const TRow rows[] = {
        {TSetting::Database, QString()},          {TSetting::Username, QString()},
        {TSetting::Password, QString()},          {TSetting::AutomaticMode, false},
        {TSetting::FirmType, QString("aziende")}, {TSetting::CartellaDaInviare, QString()},
        {TSetting::CartellaRicevute, QString()},  {TSetting::CheckIntervalSec, qint32(120)},
        {TSetting::LogActive, true},              {TSetting::LogLevel, QString("warning")},
    };
    QTemporaryDir dir;
    const TConfigFile missing(dir.filePath("VORN_Automatic.ini"));
    for (const TRow& row : rows) {
        SCOPED_TRACE(SettingKey(row.Setting).toStdString());
        EXPECT_EQ(ReadSetting(missing, row.Setting), row.Default);
    }
    WriteBytes(dir.filePath("vuoto.ini"), "[DLV]\r\nFirmType=\r\n");
    EXPECT_EQ(ReadSetting(TConfigFile(dir.filePath("vuoto.ini")), TSetting::FirmType), QString());
}

// The first steps of the settings check: the first empty text, in this order, names the failure.
TEST(SettingsTest, TheCredentialsAreCheckedDatabaseFirstAndGoToTheBackendAsUserAtDatabase)
{
    struct TRow
    {
        QString Database, Username, Password;
        QString Outcome; // the user name handed over, or the failure's message
    };
    const TRow rows[] = {
        {"", "", "", "Databse non specificato"},
        {" \t ", "u", "p", "Databse non specificato"},
        {"d", "", "", "Username non specificato"},
        {"d", "\r\n", "p", "Username non specificato"},
        {"d", "u", " ", "Password non specificata"},
        {" DEMO01 ", "\tmario.rossi ", "  s3gr3ta ", "mario.rossi@DEMO01"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE((row.Database + '|' + row.Username + '|' + row.Password).toStdString());
        try {
            const TBackendCredentials credentials = CheckCredentials(row.Database, row.Username, row.Password);
            EXPECT_EQ(credentials.Username, row.Outcome);
            EXPECT_EQ(credentials.Password, "s3gr3ta");
        } catch (const EVornError& failure) {
            EXPECT_EQ(failure.Message(), row.Outcome);
        }
    }
}

// Whole seconds as integer text, not trimmed, up to the largest count whose milliseconds still fit
// a signed 32-bit timer period.
TEST(SettingsTest, TheIntervalIsIntegerTextOfAtMost2147483Seconds)
{
    struct TRow
    {
        QString Text;
        std::optional<qint32> Seconds; // none: refused
    };
    const TRow rows[] = {
        {"120", 120},     {"0", 0},           {"0x3C", 60},          {"$3C", 60},
        {" 7", 7},        {"+2", 2},          {"2147483", 2147483},  {"2147484", {}},
        {"-1", {}},       {"", {}},           {"12a", {}},           {"5 ", {}},
        {"4294967296", {}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Text.toStdString());
        try {
            const qint32 seconds = CheckIntervalSeconds(row.Text);
            EXPECT_EQ(std::optional<qint32>(seconds), row.Seconds);
        } catch (const EVornError& failure) {
            EXPECT_FALSE(row.Seconds) << "refused";
            EXPECT_EQ(failure.Message(), "'" + row.Text + "' is not a valid integer value");
        }
    }
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
