#include "util/Folders.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <numeric>
#include <sys/stat.h>
#include <vector>

namespace {

struct TDirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

bool IsPathSeparator(QChar c)
{
    return c == u'/' || c == u'\\';
}

// Case-insensitive wildcard match: "*" any run, "?" exactly one character. Both texts are already
// case-folded. Greedy with backtracking to the last star, so linear for the usual patterns.
bool WildcardMatch(QStringView name, QStringView pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// The Windows rules also let a trailing ".*" match a name without an extension: "*.*" matches
// every name, "report.*" matches "report".
bool MatchesMask(QStringView foldedName, QStringView foldedPattern)
{
    if (WildcardMatch(foldedName, foldedPattern))
        return true;
    return foldedPattern.endsWith(u".*") && WildcardMatch(foldedName, foldedPattern.chopped(2));
}

// Regular files and links to them: everything else (folders, dangling links, FIFOs, sockets,
// devices) cannot be read as an invoice, and a FIFO would even block the reader.
bool IsListedFile(int dirFd, const dirent& entry)
{
    switch (entry.d_type) {
    case DT_REG:
        return true;
    case DT_LNK:
    case DT_UNKNOWN: {
        struct stat info;
        return fstatat(dirFd, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
    }
    default:
        return false;
    }
}

// A name that does not survive the trip through QString (bytes that are not valid in the file-name
// encoding) could not be opened again under the text we hand out; it is left where it is.
bool RoundTrips(const char* rawName, const QString& name)
{
    for (const char* c = rawName; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80)
            return QFile::encodeName(name) == rawName;
    return true;
}

// ICU gives English no tailoring, so its order is the root (language-neutral) order. The C locale
// must not be handed to QCollator: its sort keys there compare code points with case ("B" < "a").
QLocale CollationLocale(const QLocale& locale)
{
    return locale.language() == QLocale::C ? QLocale(QLocale::English) : locale;
}

void SortWithoutCase(QStringList& names, const QLocale& locale)
{
    QCollator collator(CollationLocale(locale));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString& name : names)
        keys.push_back(collator.sortKey(name));

    std::vector<qsizetype> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    // Names equal to the collator are put in code-point order so that a listing is reproducible.
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int c = keys[a].compare(keys[b]);
        return c != 0 ? c < 0 : names[a] < names[b];
    });

    QStringList sorted;
    sorted.reserve(names.size());
    for (qsizetype i : order)
        sorted.append(std::move(names[i]));
    names = std::move(sorted);
}

} // namespace

std::unique_ptr<QStringList> ListFolder(const QString& mask)
{
    return ListFolder(mask, QLocale::system());
}

std::unique_ptr<QStringList> ListFolder(const QString& mask, const QLocale& locale, QStringList* unmappable)
{
    auto names = std::make_unique<QStringList>();

    const auto separator = std::find_if(mask.crbegin(), mask.crend(), IsPathSeparator);
    const qsizetype patternStart = mask.crend() - separator;
    QString folder = mask.left(std::max<qsizetype>(patternStart - 1, 0));
    if (separator == mask.crend())
        folder = QStringLiteral(".");
    else if (folder.isEmpty())
        folder = QStringLiteral("/");
    const QString pattern = mask.mid(patternStart).toCaseFolded();
    if (pattern.isEmpty())
        return names;

    TDirHandle dir(opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return names;
    const int dirFd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        const char* raw = entry->d_name;
        if (raw[0] == '\0' || qstrcmp(raw, ".") == 0 || qstrcmp(raw, "..") == 0)
            continue;
        QString name = QFile::decodeName(raw);
        if (!MatchesMask(name.toCaseFolded(), pattern) || !IsListedFile(dirFd, *entry))
            continue;
        if (!RoundTrips(raw, name)) {
            if (unmappable)
                unmappable->append(name.replace(QChar::ReplacementCharacter, u'?'));
            continue;
        }
        names->append(std::move(name));
    }
    SortWithoutCase(*names, locale);
    return names;
}

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool FolderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    return errno == EACCES || errno == EPERM;
}

bool MakeFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0777) == 0)
        return true;
    struct stat info;
    return errno == EEXIST && ::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}
