#include "cli/CliCommand.h"

#include "backend/DVBackendService.h"
#include "cli/CliFormat.h"
#include "config/ConfigFile.h"
#include "util/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>

void Print(const QString& text)
{
    std::fputs(PrintableText(text, TLineBreaks::Keep).toUtf8().constData(), stdout);
}

void PrintLine(const QString& line)
{
    std::fputs((PrintableText(line, TLineBreaks::Replace) + u'\n').toUtf8().constData(), stdout);
}

void PrintError(const QString& message)
{
    std::fputs((kCliProgram + QStringLiteral(": ") + PrintableText(message, TLineBreaks::Replace) + u'\n')
                   .toUtf8()
                   .constData(),
               stderr);
}

TDateTime DateOption(const QCommandLineParser& parser, const QString& name)
{
    if (!parser.isSet(name))
        return 0;
    const QString text = parser.value(name);
    static const QRegularExpression kPattern(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})$"));
    const QRegularExpressionMatch match = kPattern.match(text);
    const QDate date = match.hasMatch() ? QDate(match.captured(1).toInt(), match.captured(2).toInt(),
                                                match.captured(3).toInt())
                                        : QDate();
    if (!date.isValid())
        throw EUsageError(
            QStringLiteral("--%1: '%2' is not a valid date; write it as yyyy-mm-dd").arg(name, text));
    // The backend client reads the day before 1900 (day 0 of its calendar) as "no date".
    if (date < QDate(1900, 1, 1))
        throw EUsageError(QStringLiteral("--%1: '%2' is before 1900-01-01").arg(name, text));
    return EncodeDateTime(date);
}

qint32 IntegerOption(const QCommandLineParser& parser, const QString& name, qint32 defaultValue)
{
    if (!parser.isSet(name))
        return defaultValue;
    const QString text = parser.value(name);
    static const QRegularExpression kPattern(QStringLiteral("^-?[0-9]+$"));
    bool ok = false;
    const qint32 value = kPattern.match(text).hasMatch() ? text.toInt(&ok) : 0;
    if (!ok)
        throw EUsageError(QStringLiteral("--%1: '%2' is not a whole number").arg(name, text));
    return value;
}

std::unique_ptr<TDVBackendService> ConfiguredClient()
{
    const QString fileName = QDir::current().absoluteFilePath(kConfigFileName);
    if (!QFileInfo(fileName).isFile())
        throw EVornError(QStringLiteral("%1 not found: the credentials are read from the configuration file "
                                        "in the working folder")
                             .arg(fileName));
    const TBackendSettings settings = ReadBackendSettings(TConfigFile(fileName));

    auto client = std::make_unique<TDVBackendService>();
    client->SetFirmType(settings.FirmType);
    client->SetUsername(settings.Credentials.Username);
    client->SetPassword(settings.Credentials.Password);
    return client;
}

namespace {

// A folder setting, trimmed as the window trims it; empty when the file or the key is missing.
QString ConfiguredFolder(TSetting setting)
{
    TConfigFile config(ConfigFilePath());
    const QString folder = TrimControl(ReadSetting(config, setting).toString());
    config.Close();
    return folder;
}

} // namespace

QString FolderArgument(const QString& given, TSetting setting, const QString& option)
{
    if (!given.isEmpty())
        return given;
    const QString folder = ConfiguredFolder(setting);
    if (folder.isEmpty())
        throw EUsageError(QStringLiteral("no folder: give %1, or set %2 in section %3 of %4")
                              .arg(option, SettingKey(setting), SettingSection(setting), kConfigFileName));
    return folder;
}
