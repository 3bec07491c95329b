#pragma once

#include <QString>
#include <QtGlobal>

// Accessor of the INI configuration file. Opening touches nothing on disk; every write is in the
// file when the call returns. Section and key names match without regard to case.
class TConfigFile
{
public:
    explicit TConfigFile(QString fileName);
    ~TConfigFile();
    TConfigFile(const TConfigFile&) = delete;
    TConfigFile& operator=(const TConfigFile&) = delete;

    const QString& FileName() const { return FFileName; }

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    qint32 ReadInteger(const QString& section, const QString& key, qint32 defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Throw EVornError "Unable to write to %s" (full path) when the file cannot be written.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, qint32 value);
    void WriteBool(const QString& section, const QString& key, bool value);

    void Close();

private:
    QString FFileName;
};

// The stored form of the password: UTF-8, Base64 on one line.
QString EncodePassword(const QString& password);
// Lenient Base64 decoding; bytes that are not UTF-8 throw EVornError
// "No mapping for the Unicode character exists in the target multi-byte code page".
QString DecodePassword(const QString& stored);
