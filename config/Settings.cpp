#include "config/Settings.h"

#include "config/ConfigFile.h"
#include "util/Errors.h"
#include "util/Text.h"

#include <QDir>
#include <QStringDecoder>

#include <optional>
#include <vector>

const QString kConfigFileName = QStringLiteral("VORN_Automatic.ini");
const QString kLogFileName = QStringLiteral("VORN_Automatic.log");
const QString kTrackCacheFileName = QStringLiteral("VORN_Automatic.track.json");

namespace {

enum class TSettingType
{
    Text,
    Password, // text stored as Base64 (EncodePassword)
    Integer,
    Boolean,
};

struct TSettingEntry
{
    TSetting Setting;
    const char* Section;
    const char* Key;
    TSettingType Type;
    QVariant Default;
};

// Every key of the file. A file that a save creates gets DLV first, then FE, in the window's
// write order; the log's Level section is only ever written by hand.
const std::vector<TSettingEntry>& Entries()
{
    static const std::vector<TSettingEntry> kEntries = {
        {TSetting::Database, "DLV", "Database", TSettingType::Text, QString()},
        {TSetting::Username, "DLV", "Username", TSettingType::Text, QString()},
        {TSetting::Password, "DLV", "Password", TSettingType::Password, QString()},
        {TSetting::AutomaticMode, "DLV", "AutomaticMode", TSettingType::Boolean, false},
        {TSetting::FirmType, "DLV", "FirmType", TSettingType::Text, QStringLiteral("aziende")},
        {TSetting::CartellaDaInviare, "FE", "CartellaDaInviare", TSettingType::Text, QString()},
        {TSetting::CartellaRicevute, "FE", "CartellaRicevute", TSettingType::Text, QString()},
        {TSetting::CheckIntervalSec, "FE", "CheckIntervalSec", TSettingType::Integer, qint32(120)},
        {TSetting::LogActive, "Level", "Active", TSettingType::Boolean, true},
        {TSetting::LogLevel, "Level", "Level", TSettingType::Text, QStringLiteral("warning")},
    };
    return kEntries;
}

const TSettingEntry& EntryOf(TSetting setting)
{
    for (const TSettingEntry& entry : Entries())
        if (entry.Setting == setting)
            return entry;
    Q_UNREACHABLE();
}

// The largest interval whose milliseconds still fit a signed 32-bit period.
constexpr qint32 kMaxIntervalSec = 2147483;

int Base64Value(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 'A' && u <= 'Z')
        return u - 'A';
    if (u >= 'a' && u <= 'z')
        return u - 'a' + 26;
    if (u >= '0' && u <= '9')
        return u - '0' + 52;
    if (u == '+')
        return 62;
    if (u == '/')
        return 63;
    return -1;
}

} // namespace

QString ConfigFilePath()
{
    return QDir::currentPath() + u'/' + kConfigFileName;
}

QString LogFilePath()
{
    return QDir::currentPath() + u'/' + kLogFileName;
}

QString TrackCacheFilePath()
{
    return QDir::currentPath() + u'/' + kTrackCacheFileName;
}

QString SettingSection(TSetting setting)
{
    return QLatin1String(EntryOf(setting).Section);
}

QString SettingKey(TSetting setting)
{
    return QLatin1String(EntryOf(setting).Key);
}

QVariant ReadSetting(const TConfigFile& config, TSetting setting)
{
    const TSettingEntry& entry = EntryOf(setting);
    const QString section = QLatin1String(entry.Section);
    const QString key = QLatin1String(entry.Key);
    switch (entry.Type) {
    case TSettingType::Text:
        return config.ReadString(section, key, entry.Default.toString());
    case TSettingType::Password:
        return DecodePassword(config.ReadString(section, key, entry.Default.toString()));
    case TSettingType::Integer:
        return config.ReadInteger(section, key, entry.Default.toInt());
    case TSettingType::Boolean:
        return config.ReadBool(section, key, entry.Default.toBool());
    }
    Q_UNREACHABLE();
}

void WriteSetting(TConfigFile& config, TSetting setting, const QVariant& value)
{
    const TSettingEntry& entry = EntryOf(setting);
    const QString section = QLatin1String(entry.Section);
    const QString key = QLatin1String(entry.Key);
    switch (entry.Type) {
    case TSettingType::Text:
        config.WriteString(section, key, value.toString());
        return;
    case TSettingType::Password:
        config.WriteString(section, key, EncodePassword(value.toString()));
        return;
    case TSettingType::Integer:
        config.WriteInteger(section, key, value.toInt());
        return;
    case TSettingType::Boolean:
        config.WriteBool(section, key, value.toBool());
        return;
    }
}

TBackendCredentials CheckCredentials(const QString& database, const QString& username,
                                     const QString& password)
{
    const QString trimmedDatabase = TrimControl(database);
    if (trimmedDatabase.isEmpty())
        throw EVornError(QStringLiteral("Databse non specificato"));
    const QString trimmedUsername = TrimControl(username);
    if (trimmedUsername.isEmpty())
        throw EVornError(QStringLiteral("Username non specificato"));
    const QString trimmedPassword = TrimControl(password);
    if (trimmedPassword.isEmpty())
        throw EVornError(QStringLiteral("Password non specificata"));
    // The database reaches the backend only as the user name's suffix.
    return {trimmedUsername + u'@' + trimmedDatabase, trimmedPassword};
}

TBackendSettings ReadBackendSettings(const TConfigFile& config)
{
    TBackendSettings settings;
    settings.FirmType = ReadSetting(config, TSetting::FirmType).toString();
    settings.Credentials = CheckCredentials(ReadSetting(config, TSetting::Database).toString(),
                                            ReadSetting(config, TSetting::Username).toString(),
                                            ReadSetting(config, TSetting::Password).toString());
    return settings;
}

qint32 CheckIntervalSeconds(const QString& text)
{
    // A negative interval, or one whose milliseconds do not fit 32 bits, would hand the timer a
    // wrapped period: refused like text that is no number.
    const std::optional<qint32> seconds = ParseIntegerText(text);
    if (!seconds || *seconds < 0 || *seconds > kMaxIntervalSec)
        throw EVornError(u'\'' + text + QStringLiteral("' is not a valid integer value"));
    return *seconds;
}

QString EncodePassword(const QString& password)
{
    return QString::fromLatin1(TrimControl(password).toUtf8().toBase64());
}

QString DecodePassword(const QString& stored)
{
    // Everything outside the alphabet is skipped, padding and line breaks included; a final
    // incomplete group gives the whole bytes it holds.
    QByteArray bytes;
    quint32 bits = 0;
    int count = 0;
    for (const QChar c : stored) {
        const int value = Base64Value(c);
        if (value < 0)
            continue;
        bits = bits << 6 | quint32(value);
        if (++count == 4) {
            bytes.append(char(bits >> 16));
            bytes.append(char(bits >> 8));
            bytes.append(char(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2)
        bytes.append(char(bits >> 4));
    if (count == 3) {
        bytes.append(char(bits >> 10));
        bytes.append(char(bits >> 2));
    }

    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString password = utf8.decode(bytes);
    if (utf8.hasError())
        throw EVornError(
            QStringLiteral("No mapping for the Unicode character exists in the target multi-byte code page"));
    return password;
}
