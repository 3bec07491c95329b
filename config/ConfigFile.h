#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

// Accessor of the INI configuration file. Opening touches nothing on disk; every write is in the
// file when the call returns. Section and key names match without regard to case.
//
// Every read sees the file as it is on disk: the parsed file is kept between calls only while the
// file's identity, size and change times stay the same (and the file is not so new that a change
// within the file system's timestamp resolution could hide). An accessor belongs to one thread.
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
    // A write replaces the whole file atomically (temporary file, fsync, rename): a failure or a
    // crash leaves the old file or the new one, never a mix. In a folder that takes no new file, a
    // writable file is rewritten in place instead (whole, flushed to disk).
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, qint32 value);
    void WriteBool(const QString& section, const QString& key, bool value);

    // Every write is already on disk when it returns; this only lets the parsed file go.
    void Close();

    struct TDocument;

private:
    enum class TFileState
    {
        Missing,
        Unreadable,
        Read
    };
    // Brings FCache up to the file as it is on disk now; FCache is null unless the file was read.
    TFileState Refresh() const;
    std::optional<QString> Value(const QString& section, const QString& key) const;
    [[noreturn]] void FailWrite() const;

    QString FFileName;
    mutable std::unique_ptr<TDocument> FCache;
};
