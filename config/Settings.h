#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

class TConfigFile;

// The system's settings, known in one place: every section and key of the configuration file with
// its type and default (the table in Settings.cpp), where the configuration and the log live, the
// checks of what a person enters with their fixed messages, and the stored form of the password.
// The window, vorn-cli and the log read and write the file through these, never by spelling keys.

enum class TSetting
{
    Database,
    Username,
    Password,
    AutomaticMode,
    FirmType,
    CartellaDaInviare,
    CartellaRicevute,
    CheckIntervalSec,
    LogActive,
    LogLevel,
};

// The files' names, and their paths in the process's working directory, built anew at each use:
// the configuration, the log, and the track cache (what became of the sent invoices, shared by
// vorn-cli track and automatic mode).
extern const QString kConfigFileName;
extern const QString kLogFileName;
extern const QString kTrackCacheFileName;
QString ConfigFilePath();
QString LogFilePath();
QString TrackCacheFilePath();

// The section and the key that hold a setting, as the file spells them.
QString SettingSection(TSetting setting);
QString SettingKey(TSetting setting);

// Reads a setting with the typed read of its kind, or its default: a QString for text, a qint32
// for an integer, a bool for a boolean. A password comes back decoded (DecodePassword's failure).
QVariant ReadSetting(const TConfigFile& config, TSetting setting);
// Writes a setting with the typed write of its kind; a password is trimmed and encoded first.
// Fails as TConfigFile's writes do.
void WriteSetting(TConfigFile& config, TSetting setting, const QVariant& value);

// What the backend client is given: the user name carries the database after an "@".
struct TBackendCredentials
{
    QString Username;
    QString Password;
};
// The first steps of the settings check, on the texts as entered: each one trimmed must not be
// empty. Throws EVornError "Databse non specificato", "Username non specificato" or
// "Password non specificata" for the first that is.
TBackendCredentials CheckCredentials(const QString& database, const QString& username,
                                     const QString& password);

// What the backend client is given from the file itself (for the programs without boxes to fill):
// the firm type, and the stored credentials through CheckCredentials (and its failures).
struct TBackendSettings
{
    QString FirmType;
    TBackendCredentials Credentials;
};
TBackendSettings ReadBackendSettings(const TConfigFile& config);

// The interval text, not trimmed, as whole seconds from 0 to 2147483: the largest count whose
// milliseconds still fit a signed 32-bit timer period. Anything else throws EVornError
// "'%s' is not a valid integer value" with the text in place of %s.
qint32 CheckIntervalSeconds(const QString& text);

// The stored form of the password: the trimmed text as UTF-8, Base64 on one line.
QString EncodePassword(const QString& password);
// Lenient Base64 decoding; bytes that are not UTF-8 throw EVornError
// "No mapping for the Unicode character exists in the target multi-byte code page".
QString DecodePassword(const QString& stored);
