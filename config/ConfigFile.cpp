#include "config/ConfigFile.h"

#include "util/Errors.h"
#include "util/SafeWrite.h"
#include "util/Text.h"
#include "util/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The profile API reads a value into a buffer of 2048 characters, the terminator included.
constexpr qsizetype kMaxValueLength = 2047;

// A file changed this recently may change again without its size or times moving (the coarsest
// common file systems keep times in 2-second steps), so its parsed form is not trusted until then.
constexpr std::int64_t kSettledNanoseconds = 2'000'000'000;

const QString kLineEnd = QStringLiteral("\r\n");

enum class TTextEncoding
{
    Ansi,
    Utf16Le,
    Utf8
};

struct TByteOrderMark
{
    TTextEncoding encoding;
    QByteArrayView bytes;
};
// A file without a mark is Windows-1252, our ANSI code page, unless it is UTF-8 (below).
const TByteOrderMark kByteOrderMarks[] = {
    {TTextEncoding::Utf16Le, QByteArrayView("\xFF\xFE", 2)},
    {TTextEncoding::Utf8, QByteArrayView("\xEF\xBB\xBF", 3)},
};

struct TFileStamp
{
    dev_t device;
    ino_t inode;
    off_t size;
    std::int64_t modified;
    std::int64_t changed;
    bool operator==(const TFileStamp&) const = default;
};

std::int64_t Nanoseconds(const timespec& t)
{
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

TFileStamp StampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

bool IsSettled(const TFileStamp& stamp)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now) - std::max(stamp.modified, stamp.changed) >= kSettledNanoseconds;
}

QString Decode(TTextEncoding encoding, const char* data, qsizetype size)
{
    switch (encoding) {
    case TTextEncoding::Utf16Le: {
        QString text(size / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(char16_t(quint8(data[2 * i]) | quint8(data[2 * i + 1]) << 8));
        return text;
    }
    case TTextEncoding::Utf8:
        return QString::fromUtf8(data, size);
    case TTextEncoding::Ansi:
        break;
    }
    return FromWindows1252(QByteArray::fromRawData(data, size));
}

QByteArray Encode(TTextEncoding encoding, const QString& text)
{
    switch (encoding) {
    case TTextEncoding::Utf16Le: {
        QByteArray bytes;
        bytes.reserve(text.size() * 2);
        for (const QChar c : text) {
            bytes.append(char(c.unicode() & 0xFF));
            bytes.append(char(c.unicode() >> 8));
        }
        return bytes;
    }
    case TTextEncoding::Utf8:
        return text.toUtf8();
    case TTextEncoding::Ansi:
        break;
    }
    return ToWindows1252(text);
}

// Linux editors write UTF-8 without a mark. Bytes that are valid UTF-8 and hold at least one
// multi-byte sequence are practically never Windows-1252 text (that would need an accented capital
// or a symbol followed by just the right punctuation, on every such byte of the file); pure ASCII
// reads the same either way and stays the ANSI file it always was.
bool IsUtf8WithoutMark(QByteArrayView bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return quint8(c) < 0x80; }))
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes); // the conversion runs when the result is taken
    return !utf8.hasError();
}

bool CanEncode(TTextEncoding encoding, const QString& text)
{
    return encoding != TTextEncoding::Ansi || FromWindows1252(ToWindows1252(text)) == text;
}

// What GetPrivateProfileString returns for the text after "=".
QString ValueText(const QString& afterEquals)
{
    QString value = TrimControl(afterEquals);
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    if (value.size() > kMaxValueLength) {
        value.truncate(kMaxValueLength);
        if (value.back().isHighSurrogate())
            value.chop(1); // half a character is no character
    }
    return value;
}

// Reading trims blanks and strips one pair of enclosing quotes; quoting such a value keeps it whole.
QString StoredValue(const QString& value)
{
    if (value.isEmpty())
        return value;
    const QChar first = value.front();
    const QChar last = value.back();
    const bool losesBlanks = first.unicode() <= 0x20 || last.unicode() <= 0x20;
    const bool losesQuotes = value.size() >= 2 && (first == u'"' || first == u'\'') && last == first;
    return losesBlanks || losesQuotes ? u'"' + value + u'"' : value;
}

bool HasLineBreak(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

// Names and values that would read back as something else, or spill into lines of their own.
bool IsWritable(const QString& section, const QString& key, const QString& value)
{
    const QString trimmedKey = TrimControl(key);
    return !TrimControl(section).isEmpty() && !HasLineBreak(section) && !section.contains(u']') &&
           !trimmedKey.isEmpty() && !HasLineBreak(key) && !key.contains(u'=') &&
           !trimmedKey.startsWith(u'[') && !trimmedKey.startsWith(u';') && !HasLineBreak(value);
}

} // namespace

// The file's bytes, its lines as byte ranges and an index of its sections and keys. Lines keep
// their bytes exactly, so that a write changes nothing but the line it writes.
struct TConfigFile::TDocument
{
    struct TLine
    {
        qsizetype begin;
        qsizetype contentEnd; // where the line end starts
        qsizetype end;
    };
    struct TSection
    {
        qsizetype lastKeyLine; // the header line while the section has no key
        QHash<QString, qsizetype> keys;
    };

    QByteArray bytes;
    TTextEncoding encoding = TTextEncoding::Ansi;
    qsizetype textBegin = 0;
    qsizetype textEnd = 0; // a stray odd byte of a UTF-16 file stays after it
    std::vector<TLine> lines;
    // Only the first section of each name counts, and in it the first line of each key.
    std::vector<TSection> sections;
    QHash<QString, std::size_t> sectionByName;
    TFileStamp stamp{};
    bool settled = false;

    explicit TDocument(QByteArray fileBytes);

    QString Text(qsizetype begin, qsizetype end) const
    {
        return Decode(encoding, bytes.constData() + begin, end - begin);
    }
    QString Content(const TLine& line) const { return Text(line.begin, line.contentEnd); }
    const TSection* FindSection(const QString& name) const
    {
        const auto it = sectionByName.constFind(name.toCaseFolded());
        return it == sectionByName.cend() ? nullptr : &sections[*it];
    }
    const TLine* FindKey(const TSection& section, const QString& key) const
    {
        const auto it = section.keys.constFind(key.toCaseFolded());
        return it == section.keys.cend() ? nullptr : &lines[*it];
    }

private:
    char16_t UnitAt(qsizetype i) const
    {
        if (encoding == TTextEncoding::Utf16Le)
            return char16_t(quint8(bytes[i]) | quint8(bytes[i + 1]) << 8);
        return quint8(bytes[i]);
    }
    void Index(qsizetype lineIndex, std::optional<std::size_t>& currentSection);
};

TConfigFile::TDocument::TDocument(QByteArray fileBytes) : bytes(std::move(fileBytes))
{
    const auto mark = std::find_if(std::begin(kByteOrderMarks), std::end(kByteOrderMarks),
                                   [this](const TByteOrderMark& m) { return bytes.startsWith(m.bytes); });
    if (mark != std::end(kByteOrderMarks)) {
        encoding = mark->encoding;
        textBegin = mark->bytes.size();
    } else if (IsUtf8WithoutMark(bytes)) {
        // Written back as it came: UTF-8, still without a mark.
        encoding = TTextEncoding::Utf8;
    }
    const qsizetype unit = encoding == TTextEncoding::Utf16Le ? 2 : 1;
    textEnd = textBegin + (bytes.size() - textBegin) / unit * unit;

    // Line ends as the profile API knows them: CR LF, LF or a lone CR.
    std::optional<std::size_t> currentSection;
    for (qsizetype begin = textBegin; begin < textEnd;) {
        qsizetype contentEnd = begin;
        while (contentEnd < textEnd && UnitAt(contentEnd) != u'\n' && UnitAt(contentEnd) != u'\r')
            contentEnd += unit;
        qsizetype end = contentEnd;
        if (end < textEnd && UnitAt(end) == u'\r')
            end += unit;
        if (end < textEnd && UnitAt(end) == u'\n')
            end += unit;
        lines.push_back({begin, contentEnd, end});
        Index(qsizetype(lines.size()) - 1, currentSection);
        begin = end;
    }
}

void TConfigFile::TDocument::Index(qsizetype lineIndex, std::optional<std::size_t>& currentSection)
{
    const QString text = TrimControl(Content(lines[lineIndex]));
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        const QString name = TrimControl(text.mid(1, close < 0 ? -1 : close - 1)).toCaseFolded();
        currentSection.reset();
        if (!sectionByName.contains(name)) {
            currentSection = sections.size();
            sectionByName.insert(name, sections.size());
            sections.push_back({lineIndex, {}});
        }
        return;
    }
    // Lines before the first section, comments and lines without "=" hold no value.
    const qsizetype equals = text.indexOf(u'=');
    if (!currentSection || text.startsWith(u';') || equals < 0)
        return;
    const QString key = TrimControl(text.left(equals)).toCaseFolded();
    if (key.isEmpty())
        return;
    TSection& section = sections[*currentSection];
    if (!section.keys.contains(key))
        section.keys.insert(key, lineIndex);
    section.lastKeyLine = lineIndex;
}

namespace {

using TDocument = TConfigFile::TDocument;

std::unique_ptr<TDocument> ReadDocument(const QByteArray& path)
{
    TUniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    struct stat st
    {
    };
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    QByteArray bytes;
    if (ReadAll(fd.Get(), std::numeric_limits<qint64>::max(), bytes) != 0)
        return nullptr;
    auto document = std::make_unique<TDocument>(std::move(bytes));
    // The stamp is the one from before the read: a change during the read shows as a new stamp.
    document->stamp = StampOf(st);
    document->settled = IsSettled(document->stamp);
    return document;
}

// Where a write puts its text, as a replacement of the byte range [offset, offset + length).
struct TSplice
{
    qsizetype offset;
    qsizetype length;
    QString text;
};

TSplice PlanWrite(const TDocument& document, const QString& section, const QString& key,
                  const QString& storedValue)
{
    const QString keyLine = key + u'=' + storedValue;
    if (const auto* existing = document.FindSection(section)) {
        if (const auto* line = document.FindKey(*existing, key))
            return {line->begin, line->contentEnd - line->begin, keyLine};
        const auto& anchor = document.lines[existing->lastKeyLine];
        const QString lineBreak = anchor.end == anchor.contentEnd ? kLineEnd : QString();
        return {anchor.end, 0, lineBreak + keyLine + kLineEnd};
    }
    const bool lastLineOpen =
        !document.lines.empty() && document.lines.back().end == document.lines.back().contentEnd;
    return {document.textEnd, 0,
            (lastLineOpen ? kLineEnd : QString()) + u'[' + section + u']' + kLineEnd + keyLine + kLineEnd};
}

QByteArray ApplySplice(const TDocument& document, const TSplice& splice)
{
    const qsizetype after = splice.offset + splice.length;
    if (CanEncode(document.encoding, splice.text))
        return document.bytes.left(splice.offset) + Encode(document.encoding, splice.text) +
               document.bytes.mid(after);
    // Windows-1252 cannot hold the new text: rather than lose characters (a folder name, say), the
    // file becomes UTF-16, which holds every line's text as it was.
    const QString text = document.Text(document.textBegin, splice.offset) + splice.text +
                         document.Text(after, document.textEnd);
    return kByteOrderMarks[0].bytes.toByteArray() + Encode(TTextEncoding::Utf16Le, text);
}

// Writes the whole file beside the old one and renames it over: a failure or a crash leaves the
// old file or the new one, never a half-written one. Only where the folder refuses a new file is
// the file rewritten in place.
bool ReplaceConfigFile(const QString& fileName, const QByteArray& bytes)
{
    // Through a link of ours the file it names is replaced, and the link stays; a link somebody
    // else planted is not written through.
    QByteArray target;
    if (ResolveOwnLink(QFile::encodeName(fileName), target) != 0)
        return false;
    // The file holds the password: a new one is for its owner only, an existing one keeps its mode.
    const int error = ReplaceFile(target, bytes, 0600);
    // A shared install may leave the folder read-only and the file writable: nothing can go beside
    // the file, but the file itself can still take the new text.
    if (error == EACCES || error == EPERM)
        return RewriteInPlace(target, bytes) == 0;
    return error == 0;
}

} // namespace

TConfigFile::TConfigFile(QString fileName) : FFileName(std::move(fileName)) {}

TConfigFile::~TConfigFile() = default;

TConfigFile::TFileState TConfigFile::Refresh() const
{
    const QByteArray path = QFile::encodeName(FFileName);
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) != 0) {
        FCache.reset();
        return errno == ENOENT || errno == ENOTDIR ? TFileState::Missing : TFileState::Unreadable;
    }
    if (FCache && FCache->settled && FCache->stamp == StampOf(st))
        return TFileState::Read;
    FCache = S_ISREG(st.st_mode) ? ReadDocument(path) : nullptr;
    return FCache ? TFileState::Read : TFileState::Unreadable;
}

std::optional<QString> TConfigFile::Value(const QString& section, const QString& key) const
{
    if (Refresh() != TFileState::Read)
        return std::nullopt;
    const auto* found = FCache->FindSection(section);
    const auto* line = found ? FCache->FindKey(*found, key) : nullptr;
    if (!line)
        return std::nullopt;
    const QString content = FCache->Content(*line);
    return ValueText(content.mid(content.indexOf(u'=') + 1));
}

QString TConfigFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return Value(section, key).value_or(defaultValue);
}

qint32 TConfigFile::ReadInteger(const QString& section, const QString& key, qint32 defaultValue) const
{
    const auto text = Value(section, key);
    const auto number = text ? ParseIntegerText(*text) : std::nullopt;
    return number.value_or(defaultValue);
}

bool TConfigFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    const auto text = Value(section, key);
    const auto number = text ? ParseIntegerText(*text) : std::nullopt;
    return number ? *number != 0 : defaultValue;
}

void TConfigFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    if (!IsWritable(section, key, value))
        FailWrite();
    const TFileState state = Refresh();
    // A file that is there but cannot be read would be replaced by one that lacks its other lines.
    if (state == TFileState::Unreadable)
        FailWrite();
    const std::unique_ptr<TDocument> document = std::move(FCache);
    const TDocument missing{QByteArray()};
    const TDocument& current = document ? *document : missing;
    const QByteArray bytes = ApplySplice(current, PlanWrite(current, section, key, StoredValue(value)));
    if (!ReplaceConfigFile(FFileName, bytes))
        FailWrite();
}

void TConfigFile::WriteInteger(const QString& section, const QString& key, qint32 value)
{
    WriteString(section, key, QString::number(value));
}

void TConfigFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TConfigFile::Close()
{
    FCache.reset();
}

void TConfigFile::FailWrite() const
{
    throw EVornError(QStringLiteral("Unable to write to %1").arg(QFileInfo(FFileName).absoluteFilePath()));
}
