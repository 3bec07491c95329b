#include "log/LogFile.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Print.h"
#include "util/Errors.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void AppendBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Pads the file with filler up to exactly the given size.
void GrowTo(const QString& path, qint64 size)
{
    const qint64 now = QFileInfo(path).size();
    ASSERT_LE(now, size);
    AppendBytes(path, QByteArray(size - now, 'x'));
}

const QRegularExpression
    kLinePattern(QStringLiteral(R"(^\[(\d\d/\d\d/\d{4} \d\d\.\d\d\.\d\d)(\] ERR- |\] WRN- |\]    - ))"));

// Every line of the file, from its level tag on ("] ERR- message"); each line must carry a valid
// timestamp, and every line, the last included, must end in CR LF.
QStringList Lines(const QString& path)
{
    const QByteArray bytes = ReadBytes(path);
    EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith("\r\n")) << bytes.right(40).toStdString();
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    lines.removeLast();
    for (QString& line : lines) {
        const auto match = kLinePattern.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        EXPECT_TRUE(QDateTime::fromString(match.captured(1), QStringLiteral("dd/MM/yyyy hh.mm.ss")).isValid())
            << line.toStdString();
        line = line.mid(20);
    }
    return lines;
}

const QString kStart = QStringLiteral("]    - Log Start");
const QString kLevelWarning = QStringLiteral("]    - Log Level: WARNING");
const QString kStop = QStringLiteral("]    - Log Stop");

class LogFileTest : public ::testing::Test
{
protected:
    // Timestamps carry the regional date separator: these tests read Italian ones, "03/02/2025",
    // whatever the machine's own locale is.
    LogFileTest() { QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy)); }
    ~LogFileTest() override { QLocale::setDefault(QLocale::system()); }

    QTemporaryDir FDir;
    QString FPath = FDir.filePath(QStringLiteral("VORN_Automatic.log"));
    QString FHistory = FPath + QStringLiteral(".st");

    std::unique_ptr<TLogFile> Open(std::int32_t maxSize = TLogFile::kDefaultMaxSize)
    {
        auto log = std::make_unique<TLogFile>(FPath, maxSize);
        log->SetWriteDelayForTesting(0ms);
        return log;
    }
};

TEST_F(LogFileTest, AFirstStartCreatesTheLogWithItsStartLines)
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    auto log = Open();
    EXPECT_TRUE(log->Active());
    EXPECT_EQ(log->Level(), lfWarning);
    EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning}));

    const QByteArray bytes = ReadBytes(FPath);
    const QDateTime stamp =
        QDateTime::fromString(QString::fromLatin1(bytes.mid(1, 19)), "dd/MM/yyyy hh.mm.ss");
    EXPECT_GE(stamp, before.addMSecs(-before.time().msec()));
    EXPECT_LE(stamp, QDateTime::currentDateTime());
    EXPECT_EQ(bytes.indexOf("Log Start"), 27) << "messages start in column 28";

    log.reset();
    EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning, kStop}));
}

TEST_F(LogFileTest, AnExistingLogIsAppendedTo)
{
    AppendBytes(FPath, "earlier\r\n");
    Open().reset();
    EXPECT_TRUE(ReadBytes(FPath).startsWith("earlier\r\n["));
}

TEST_F(LogFileTest, TheLevelFilterPassesLinesUpToTheLevel)
{
    struct TCase
    {
        TTagLogFile level;
        QStringList written;
    };
    const TCase cases[] = {
        {lfOff, {}},
        {lfError, {"] ERR- err"}},
        {lfWarning, {"] WRN- wrn", "] ERR- err"}},
        {lfNormal, {"]    - normal", "] WRN- wrn", "] ERR- err"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(LogLevelName(c.level).toStdString());
        QFile::remove(FPath);
        auto log = Open();
        log->SetLevel(c.level);
        log->WriteLog("normal");
        log->WriteLogWrn("wrn");
        log->WriteLogErr("err");
        log.reset();
        EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning} + c.written + QStringList{kStop}));
    }
}

// The agent's copy for the journal: the echo gets exactly the lines of the file, in their order,
// and none that the filter or the switch kept out.
TEST_F(LogFileTest, TheEchoGetsExactlyTheLinesOfTheFile)
{
    QStringList echoed;
    auto log = std::make_unique<TLogFile>(
        FPath, TLogFile::kDefaultMaxSize, [&](TTagLogFile level, const QString& message) {
            const char* tag = level == lfError ? "] ERR- " : level == lfWarning ? "] WRN- " : "]    - ";
            echoed << QLatin1String(tag) + message;
        });
    log->SetWriteDelayForTesting(0ms);
    log->WriteLog("normal");
    log->WriteLogWrn("wrn");
    log->SetActive(false);
    log->WriteLogErr("while off");
    log->SetActive(true);
    log->WriteLogErr("err");
    log.reset();

    EXPECT_EQ(echoed, Lines(FPath));
    // At the default level the normal lines ("normal", Log OFF / ON) stay out of both.
    EXPECT_EQ(echoed, (QStringList{kStart, kLevelWarning, "] WRN- wrn", "] ERR- err", kStop}));
}

TEST_F(LogFileTest, SwitchingOnAndOffWritesItsLineAtNormalLevelOnly)
{
    auto log = Open();
    log->SetActive(false);
    log->WriteLogErr("silent");
    log->SetActive(true);
    EXPECT_TRUE(log->Active());
    EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning})) << "at warning level the switch is silent";

    log->SetLevel(lfNormal);
    log->SetActive(true);
    log->SetActive(false);
    log->WriteLogErr("silent");
    log->SetActive(false);
    log->SetActive(true);
    log->SetActive(false);
    log.reset();
    EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning, "]    - Log OFF", "]    - Log ON",
                                         "]    - Log OFF", kStop}))
        << "setting the current value writes nothing; the stop line comes even when off";
}

struct TInitCase
{
    const char* config; // null: no configuration file
    bool active;
    TTagLogFile level;
    bool levelLine;
};

void PrintTo(const TInitCase& c, std::ostream* os)
{
    *os << (c.config ? Quoted(c.config) : std::string("no configuration file")) << " gives "
        << (c.active ? "active" : "inactive") << ", level " << LogLevelName(c.level).toStdString()
        << (c.levelLine ? ", with the level line" : "");
}

class LogInitTest : public LogFileTest, public ::testing::WithParamInterface<TInitCase>
{
};

TEST_P(LogInitTest, AppliesTheLevelSection)
{
    const QString configPath = FDir.filePath("VORN_Automatic.ini");
    if (GetParam().config) {
        QFile config(configPath);
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(GetParam().config);
    }
    auto log = Open();
    log->Init(configPath);
    EXPECT_EQ(log->Active(), GetParam().active);
    EXPECT_EQ(log->Level(), GetParam().level);
    QStringList expected{kStart, kLevelWarning};
    if (GetParam().levelLine)
        expected << QStringLiteral("]    - Log Level: NORMAL");
    EXPECT_EQ(Lines(FPath), expected);
    EXPECT_EQ(QFile::exists(configPath), GetParam().config != nullptr) << "Init never creates the file";
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LogInitTest,
    ::testing::Values(TInitCase{nullptr, true, lfWarning, false},
                      TInitCase{"[Level]\r\nActive=1\r\nLevel=normal\r\n", true, lfNormal, true},
                      TInitCase{"[level]\r\nlevel=Normal\r\n", true, lfNormal, true},
                      TInitCase{"[Level]\r\nActive=0\r\nLevel=NORMAL\r\n", false, lfNormal, false},
                      TInitCase{"[Level]\r\nActive=false\r\n", true, lfWarning, false},
                      TInitCase{"[Level]\r\nActive=no\r\n", true, lfWarning, false},
                      TInitCase{"[Level]\r\nActive=0\r\n", false, lfWarning, false},
                      TInitCase{"[Level]\r\nLevel=Off\r\n", true, lfWarning, false},
                      TInitCase{"[Level]\r\nLevel=debug\r\n", true, lfWarning, false},
                      TInitCase{"[Level]\r\nLevel=\r\n", true, lfWarning, false},
                      TInitCase{"[Level]\r\nLevel=error\r\n", true, lfError, false},
                      TInitCase{"[DLV]\r\nLevel=normal\r\n", true, lfWarning, false}),
    [](const ::testing::TestParamInfo<TInitCase>& info) {
        return info.param.config ? TestNameOf(info.param.config) : std::string("NoConfigurationFile");
    });

TEST_F(LogFileTest, InitWithoutConfigurationKeepsWhatWasSet)
{
    auto log = Open();
    log->SetLevel(lfNormal);
    log->Init(FDir.filePath("missing.ini"));
    log->Init(FDir.path()); // a folder is no configuration file
    EXPECT_EQ(log->Level(), lfNormal);
    EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning}));
}

// --- size limit and history file ---------------------------------------------------------------

TEST_F(LogFileTest, ALogOfExactlyTheLimitIsKeptAndOneByteMoreIsRotated)
{
    for (const qint64 size : {1000, 1001}) {
        SCOPED_TRACE(size);
        QFile::remove(FPath);
        QFile::remove(FHistory);
        auto log = Open(1000);
        GrowTo(FPath, size);
        const QByteArray before = ReadBytes(FPath);
        log->SetLineCountForTesting(100);
        log->WriteLogErr("checked");
        if (size == 1000) {
            EXPECT_FALSE(QFile::exists(FHistory));
            EXPECT_TRUE(ReadBytes(FPath).startsWith(before));
        } else {
            EXPECT_EQ(ReadBytes(FHistory), before);
            EXPECT_EQ(Lines(FPath), QStringList{"] ERR- checked"})
                << "the line that rotated opens the new file";
        }
    }
}

TEST_F(LogFileTest, TheHundredAndFirstLineIsTheFirstToCheckTheSize)
{
    auto log = Open(1000);
    GrowTo(FPath, 5000);
    for (int i = 1; i <= 100; ++i)
        log->WriteLogErr(QStringLiteral("line %1").arg(i));
    EXPECT_FALSE(QFile::exists(FHistory));
    log->WriteLogErr("line 101");
    EXPECT_TRUE(QFile::exists(FHistory));
    EXPECT_EQ(Lines(FPath), QStringList{"] ERR- line 101"});

    // A rotation starts the count again.
    GrowTo(FPath, 5000);
    log->WriteLogErr("unchecked");
    EXPECT_TRUE(ReadBytes(FHistory).endsWith("line 100\r\n"));
}

TEST_F(LogFileTest, TheLineCountDoesNotWrapAfter32767)
{
    // A 16-bit count wraps to -32768 here and skips the check for the next 32869 lines.
    for (const std::uint64_t count : {32767ull, 65535ull, 4294967295ull}) {
        SCOPED_TRACE(count);
        QFile::remove(FHistory);
        auto log = Open(1000);
        GrowTo(FPath, 2000);
        log->SetLineCountForTesting(count);
        log->WriteLogErr("checked");
        EXPECT_TRUE(QFile::exists(FHistory));
        log.reset();
        QFile::remove(FPath);
    }
}

TEST_F(LogFileTest, TheSecondRotationReplacesTheHistory)
{
    auto log = Open(500);
    GrowTo(FPath, 600);
    log->SetLineCountForTesting(100);
    log->WriteLogErr("first");
    GrowTo(FPath, 700);
    const QByteArray second = ReadBytes(FPath);
    log->SetLineCountForTesting(100);
    log->WriteLogErr("second");
    EXPECT_EQ(ReadBytes(FHistory), second);
    EXPECT_EQ(Lines(FPath), QStringList{"] ERR- second"});
}

TEST_F(LogFileTest, AnOversizedLogAtStartIsRotatedBeforeTheStartLines)
{
    const QByteArray old(2000, 'o');
    AppendBytes(FPath, old);
    auto log = Open(1000);
    EXPECT_EQ(ReadBytes(FHistory), old);
    EXPECT_EQ(Lines(FPath), (QStringList{kStart, kLevelWarning}));
}

TEST_F(LogFileTest, AHistoryThatCannotBeDeletedFailsTheLineAndMovesNothing)
{
    auto log = Open(500);
    GrowTo(FPath, 600);
    ASSERT_TRUE(QDir().mkpath(FHistory + "/busy"));
    const QByteArray before = ReadBytes(FPath);
    log->SetLineCountForTesting(100);
    try {
        log->WriteLogErr("lost");
        ADD_FAILURE() << "no failure";
    } catch (const EVornError& e) {
        EXPECT_EQ(e.Message(), "Impossibile eliminare file storico: " + FHistory);
    }
    EXPECT_EQ(ReadBytes(FPath), before);

    // The count stays above 100, so the next line tries again and succeeds.
    ASSERT_TRUE(QDir(FHistory).removeRecursively());
    log->WriteLogErr("kept");
    EXPECT_EQ(ReadBytes(FHistory), before);
    EXPECT_EQ(Lines(FPath), QStringList{"] ERR- kept"});
}

TEST_F(LogFileTest, AConstructionThatFailsLeavesNoObjectAndWritesNothing)
{
    try {
        TLogFile log(FDir.filePath("missing/VORN_Automatic.log"));
        ADD_FAILURE() << "constructed";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_TRUE(e.Message().contains(QString::number(ENOENT))) << e.Message().toStdString();
    }

    AppendBytes(FPath, QByteArray(2000, 'o'));
    ASSERT_TRUE(QDir().mkpath(FHistory + "/busy"));
    EXPECT_THROW(TLogFile(FPath, 1000), EVornError);
    EXPECT_EQ(ReadBytes(FPath), QByteArray(2000, 'o')) << "neither start nor stop lines";
}

// The direction marks that the Arabic locales put beside their separator ("d\u200f/M\u200f/yyyy")
// are no separator: written into the log they came out as "09?12?2026".
TEST_F(LogFileTest, TimestampsCarryTheRegionalDateSeparator)
{
    const std::pair<QLocale, QChar> cases[] = {
        {QLocale(QLocale::Italian, QLocale::Italy), u'/'},
        {QLocale(QLocale::German, QLocale::Germany), u'.'},
        {QLocale(QLocale::Dutch, QLocale::Netherlands), u'-'},
        {QLocale(QLocale::Arabic, QLocale::Egypt), u'/'},
        {QLocale(QLocale::Arabic, QLocale::SaudiArabia), u'/'},
        {QLocale::c(), u'/'},
    };
    for (const auto& [locale, separator] : cases) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        QFile::remove(FPath);
        Open().reset();
        const QString stamp = QString::fromLatin1(ReadBytes(FPath).mid(1, 19));
        const QString pattern = QStringLiteral("dd%1MM%1yyyy hh.mm.ss").arg(separator);
        EXPECT_TRUE(QDateTime::fromString(stamp, pattern).isValid()) << stamp.toStdString();
    }
}

// --- file access -------------------------------------------------------------------------------

// A link somebody else left at the log's name, in a working folder others may write, must not take
// the log's lines into the file it names, whether that file is there already or not.
TEST_F(LogFileTest, ALinkSomebodyElsePlantedAtTheLogsNameIsNotWrittenThrough)
{
    if (!CanBecomeOtherUser())
        GTEST_SKIP() << "only root can plant a link as another user";
    ASSERT_EQ(::chmod(QFile::encodeName(FDir.path()).constData(), 0777), 0);
    const QString existing = FDir.filePath("existing.txt");
    AppendBytes(existing, "precious\r\n");
    const QString missing = FDir.filePath("missing.txt");
    for (const QString& victim : {existing, missing}) {
        SCOPED_TRACE(victim.toStdString());
        QFile::remove(FPath);
        ASSERT_EQ(RunAsOtherUser([&] { return QFile::link(victim, FPath) ? 0 : 1; }), 0);

        EXPECT_THROW(TLogFile log(FPath), EInOutError);

        EXPECT_EQ(ReadBytes(existing), "precious\r\n");
        EXPECT_FALSE(QFileInfo::exists(missing));
        EXPECT_TRUE(QFileInfo(FPath).isSymLink());
    }
}

TEST_F(LogFileTest, AfterDeleteEveryLineFailsWithFileNotFound)
{
    auto log = Open();
    log->Delete();
    EXPECT_FALSE(QFile::exists(FPath));
    for (const std::uint64_t count : {0ull, 500ull}) { // by the append, then by the size check
        SCOPED_TRACE(count);
        log->SetLineCountForTesting(count);
        try {
            log->WriteLogErr("lost");
            ADD_FAILURE() << "written";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), ENOENT);
        }
        EXPECT_FALSE(QFile::exists(FPath)) << "the log never creates its file again";
    }
    try {
        log->Delete();
        ADD_FAILURE() << "deleted twice";
    } catch (const EVornError& e) {
        EXPECT_EQ(e.Message(), "Impossibile eliminare file di log: " + FPath);
    }
    log.reset(); // the stop line fails quietly
    EXPECT_FALSE(QFile::exists(FPath));
}

TEST_F(LogFileTest, ACtrlZNearTheEndIsCutOffBeforeAppending)
{
    auto log = Open();
    const QByteArray start = ReadBytes(FPath);
    AppendBytes(FPath, "tail\x1Atrash\x1Amore");
    log->WriteLogErr("after");
    const QByteArray bytes = ReadBytes(FPath);
    EXPECT_EQ(bytes.left(start.size() + 5), start + "tail[");
    EXPECT_TRUE(bytes.endsWith("] ERR- after\r\n"));
    EXPECT_FALSE(bytes.contains('\x1A'));

    // One further back than the last 128 bytes stays.
    const QByteArray far = "\x1A" + QByteArray(128, 'y') + "\r\n";
    AppendBytes(FPath, far);
    log->WriteLogErr("far");
    EXPECT_TRUE(ReadBytes(FPath).contains(far));

    // A Ctrl+Z in a message must not make the next line cut the log.
    log->WriteLogErr("with \x1A inside");
    log->WriteLogErr("next");
    const QByteArray after = ReadBytes(FPath);
    EXPECT_TRUE(after.contains("] ERR- with \\x1A inside\r\n[")) << after.right(80).toStdString();
    EXPECT_TRUE(after.endsWith("] ERR- next\r\n"));
}

TEST_F(LogFileTest, LinesAreWindows1252WithQuestionMarksForTheRest)
{
    auto log = Open();
    log->WriteLogErr(QStringLiteral("Città € Ωmega 😀"));
    const QByteArray bytes = ReadBytes(FPath);
    EXPECT_TRUE(bytes.endsWith("] ERR- Citt\xE0 \x80 ?mega ?\r\n")) << bytes.toStdString();
}

TEST_F(LogFileTest, AMessageIsOneLineWithControlCharactersEscapedAndCutAt64KiB)
{
    // Neither a file name nor a backend's text may forge a line of the log.
    const QString full(64 * 1024, u'x');
    const QString cut = QStringLiteral(" [... messaggio troncato]");
    const struct
    {
        QString Message;
        QString Written;
    } cases[] = {
        {QStringLiteral("one\ntwo"), QStringLiteral("one\\ntwo")},
        {QStringLiteral("a.xml\r\n[01/01/2025 00.00.00] ERR- forged"),
         QStringLiteral("a.xml\\r\\n[01/01/2025 00.00.00] ERR- forged")},
        {QStringLiteral("tab\tbell\a esc\x1B[2J del\x7F"), QStringLiteral("tab\\tbell\\x07 esc\\x1B[2J del\\x7F")},
        {QStringLiteral("c1\u0085\u009B"), QStringLiteral("c1\\x85\\x9B")},
        {QStringLiteral("C:\\dati\\n.xml"), QStringLiteral("C:\\dati\\n.xml")},
        {full, full},
        {full + u'y', full + cut},
        // An escape is shown whole or not at all.
        {full.left(full.size() - 1) + u'\n', full.left(full.size() - 1) + cut},
    };
    auto log = Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message.left(60).toStdString());
        log->WriteLogErr(c.Message);
        EXPECT_EQ(Lines(FPath).constLast(), QStringLiteral("] ERR- ") + c.Written);
    }
}

// --- threads and timing ------------------------------------------------------------------------

TEST_F(LogFileTest, ConcurrentWritersNeitherTearNorLoseLines)
{
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 150;
    auto log = Open();
    log->SetLineCountForTesting(100); // every line also checks the size
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kLinesEach; ++i)
                log->WriteLogErr(QStringLiteral("writer %1 line %2 %3").arg(t).arg(i).arg(QString(40, u'z')));
        });
    for (auto& writer : writers)
        writer.join();

    const QStringList lines = Lines(FPath);
    ASSERT_EQ(lines.size(), 2 + kThreads * kLinesEach);
    QSet<QString> seen;
    for (const QString& line : lines.mid(2))
        seen.insert(line);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kLinesEach; ++i)
            EXPECT_TRUE(seen.contains(
                QStringLiteral("] ERR- writer %1 line %2 %3").arg(t).arg(i).arg(QString(40, u'z'))));
}

TEST_F(LogFileTest, EveryLoggedLineWaitsAndAFilteredLineDoesNot)
{
    TLogFile log(FPath);
    auto begin = std::chrono::steady_clock::now();
    log.WriteLogErr("one");
    log.WriteLogWrn("two");
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 200ms);

    begin = std::chrono::steady_clock::now();
    log.WriteLog("filtered");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 100ms);
}

// --- names -------------------------------------------------------------------------------------

TEST(LogNamesTest, LevelNamesAndDateSeparators)
{
    EXPECT_EQ(LogLevelName(lfOff), "");
    EXPECT_EQ(LogLevelName(lfError), "ERROR");
    EXPECT_EQ(LogLevelName(lfWarning), "WARNING");
    EXPECT_EQ(LogLevelName(lfNormal), "NORMAL");

    const std::pair<const char*, QChar> formats[] = {{"dd/MM/yy", u'/'},
                                                     {"dd.MM.yy", u'.'},
                                                     {"dd-MM-yyyy", u'-'},
                                                     {"yyyy. MM. dd.", u'.'},
                                                     {"d MMM yyyy", u'/'},
                                                     {"", u'/'},
                                                     {"d'de'MMMM", u'/'},
                                                     {"d\u200f/M\u200f/yyyy", u'/'},
                                                     {"\u200edd\u200e.MM.yy", u'.'},
                                                     {"d\u061c-M\u061c-y", u'-'}};
    for (const auto& [format, separator] : formats) {
        SCOPED_TRACE(format);
        EXPECT_EQ(DateSeparatorOf(format), separator);
    }
}

} // namespace
