#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "tests/support/Files.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Print.h"
#include "util/Errors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray Utf16Le(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

mode_t ModeOf(const QString& path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return st.st_mode & 07777;
}

class ConfigFileTest : public ::testing::Test
{
protected:
    QTemporaryDir FDir;
    QString FPath = FDir.filePath(QStringLiteral("VORN_Automatic.ini"));

    QStringList Entries() const
    {
        return QDir(FDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

// --- reading values ----------------------------------------------------------------------------

struct TValueCase
{
    const char* line; // as stored under [DLV], Windows-1252
    const char* expected;
};

void PrintTo(const TValueCase& c, std::ostream* os)
{
    *os << Quoted(c.line) << " reads as " << Quoted(c.expected);
}

class ValueRuleTest : public ConfigFileTest, public ::testing::WithParamInterface<TValueCase>
{
};

TEST_P(ValueRuleTest, ReadsTheValueAsTheProfileApiDoes)
{
    WriteBytes(FPath, QByteArray("[DLV]\r\n") + GetParam().line + "\r\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", "default"), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValueRuleTest,
    ::testing::Values(TValueCase{"Database=abc", "abc"}, TValueCase{"Database =  abc  ", "abc"},
                      TValueCase{"  Database\t=\tabc\t", "abc"}, TValueCase{"Database='abc'", "abc"},
                      TValueCase{"Database=\"abc\"", "abc"}, TValueCase{"Database = ' abc ' ", " abc "},
                      TValueCase{"Database=\"abc'", "\"abc'"}, TValueCase{"Database='", "'"},
                      TValueCase{"Database=\"\"", ""}, TValueCase{"Database=", ""},
                      TValueCase{"Database=a=b", "a=b"}, TValueCase{"Database=\"a\" b \"c\"", "a\" b \"c"},
                      TValueCase{"DATABASE=upper", "upper"}, TValueCase{"Database=Citt\xE0 \x80", "Città €"},
                      // UTF-8 without a mark, as Linux editors write it; bytes that are not all
                      // valid UTF-8 stay Windows-1252.
                      TValueCase{"Database=Citt\xC3\xA0 \xE2\x82\xAC", "Città €"},
                      TValueCase{"Database=Citt\xC3\xA0 \xE0", "CittÃ\u00A0 à"},
                      TValueCase{";Database=comment", "default"}, TValueCase{"Database", "default"},
                      TValueCase{"Databases=other", "default"}),
    [](const ::testing::TestParamInfo<TValueCase>& info) {
        return NumberedTestName(info.index, info.param.line);
    });

TEST_F(ConfigFileTest, MissingFileSectionOrKeyGiveTheDefault)
{
    TConfigFile missing(FPath);
    EXPECT_EQ(missing.ReadString("DLV", "FirmType", "aziende"), "aziende");
    EXPECT_EQ(missing.ReadInteger("FE", "CheckIntervalSec", 120), 120);
    EXPECT_TRUE(missing.ReadBool("Level", "Active", true));
    EXPECT_FALSE(QFile::exists(FPath)) << "reading must not create the file";

    WriteBytes(FPath, "Database=before any section\r\n[DLV]\r\nFirmType=\r\n[FE]\r\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "FirmType", "aziende"), "") << "present but empty is not missing";
    EXPECT_EQ(config.ReadString("DLV", "Database", "none"), "none")
        << "keys before any section belong nowhere";
    EXPECT_EQ(config.ReadString("FE", "FirmType", "aziende"), "aziende");
    EXPECT_EQ(config.ReadString("XX", "FirmType", "aziende"), "aziende");
}

TEST_F(ConfigFileTest, NamesMatchWithoutRegardToCaseAndTheFirstOccurrenceWins)
{
    WriteBytes(
        FPath,
        "[dLv]\nDataBase=first\nDATABASE=second\n[ Fe ]\nCartellaDaInviare=/in\n[DLV]\nUsername=hidden\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "database", ""), "first");
    EXPECT_EQ(config.ReadString("fe", "cartelladainviare", ""), "/in");
    EXPECT_EQ(config.ReadString("DLV", "Username", "none"), "none")
        << "a repeated section is not looked into";
}

TEST_F(ConfigFileTest, LineEndsOfEveryKindSeparateLines)
{
    WriteBytes(FPath, "[DLV]\rDatabase=cr\r\nUsername=crlf\nPassword=lf");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "cr");
    EXPECT_EQ(config.ReadString("DLV", "Username", ""), "crlf");
    EXPECT_EQ(config.ReadString("DLV", "Password", ""), "lf");
}

TEST_F(ConfigFileTest, ValueIsCutAt2047Characters)
{
    const QByteArray longValue(3000, 'v');
    WriteBytes(FPath, "[DLV]\r\nDatabase=" + longValue + "\r\nUsername='" + QByteArray(2047, 'q') + "'\r\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), QString(2047, u'v'));
    EXPECT_EQ(config.ReadString("DLV", "Username", ""), QString(2047, u'q')) << "the quotes do not count";
}

struct TNumberCase
{
    const char* value;
    qint32 expected;
};

void PrintTo(const TNumberCase& c, std::ostream* os)
{
    *os << Quoted(c.value) << " reads as " << c.expected;
}

class IntegerRuleTest : public ConfigFileTest, public ::testing::WithParamInterface<TNumberCase>
{
};

TEST_P(IntegerRuleTest, ReadsIntegerTextOrTheDefault)
{
    WriteBytes(FPath, QByteArray("[FE]\r\nCheckIntervalSec=") + GetParam().value + "\r\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadInteger("FE", "CheckIntervalSec", 120), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Integers, IntegerRuleTest,
    ::testing::Values(TNumberCase{"", 120}, TNumberCase{"abc", 120}, TNumberCase{"60", 60},
                      TNumberCase{" 60 ", 60}, TNumberCase{"0x3C", 60}, TNumberCase{"0X3c", 60},
                      TNumberCase{"$3C", 60}, TNumberCase{"x3C", 60}, TNumberCase{"X3C", 60},
                      TNumberCase{"-5", -5}, TNumberCase{"+7", 7}, TNumberCase{"-0x10", -16},
                      TNumberCase{"007", 7}, TNumberCase{"0", 0}, TNumberCase{"2147483647", 2147483647},
                      TNumberCase{"2147483648", 120}, TNumberCase{"-2147483648", -2147483647 - 1},
                      TNumberCase{"-2147483649", 120}, TNumberCase{"$7FFFFFFF", 2147483647},
                      TNumberCase{"$80000000", 120}, TNumberCase{"$FFFFFFFF", 120},
                      TNumberCase{"99999999999999999999", 120}, TNumberCase{"12abc", 120},
                      TNumberCase{"1 2", 120}, TNumberCase{"3.5", 120}, TNumberCase{"0x", 120},
                      TNumberCase{"$", 120}, TNumberCase{"-", 120}, TNumberCase{"+-1", 120},
                      TNumberCase{"0x1G", 120}, TNumberCase{"'42'", 42}, TNumberCase{"\xB2", 120}),
    [](const ::testing::TestParamInfo<TNumberCase>& info) {
        return NumberedTestName(info.index, info.param.value);
    });

struct TBoolCase
{
    const char* value;
    bool defaultValue;
    bool expected;
};

void PrintTo(const TBoolCase& c, std::ostream* os)
{
    *os << Quoted(c.value) << " with the default " << (c.defaultValue ? "true" : "false") << " reads as "
        << (c.expected ? "true" : "false");
}

class BoolRuleTest : public ConfigFileTest, public ::testing::WithParamInterface<TBoolCase>
{
};

TEST_P(BoolRuleTest, ReadsIntegerTextComparedWithZero)
{
    WriteBytes(FPath, QByteArray("[DLV]\r\nAutomaticMode=") + GetParam().value + "\r\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadBool("DLV", "AutomaticMode", GetParam().defaultValue), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Booleans, BoolRuleTest,
                         ::testing::Values(TBoolCase{"true", false, false}, TBoolCase{"yes", true, true},
                                           TBoolCase{"2", false, true}, TBoolCase{" 1 ", false, true},
                                           TBoolCase{"-1", false, true}, TBoolCase{"0", true, false},
                                           TBoolCase{"0x0", true, false}, TBoolCase{"", true, true},
                                           TBoolCase{"", false, false}),
                         [](const ::testing::TestParamInfo<TBoolCase>& info) {
                             return TestNameOf(info.param.value) +
                                    (info.param.defaultValue ? "_default_true" : "_default_false");
                         });

// --- writing -----------------------------------------------------------------------------------

TEST_F(ConfigFileTest, ANewFileIsWindows1252WithCrLfAndNoByteOrderMark)
{
    TConfigFile config(FPath);
    config.WriteString("DLV", "Database", "Città €");
    config.WriteInteger("DLV", "Port", -5);
    config.WriteBool("DLV", "AutomaticMode", true);
    config.WriteString("FE", "CartellaDaInviare", "/srv/fatture");
    config.WriteBool("DLV", "AutomaticMode", false);
    config.Close();
    EXPECT_EQ(ReadBytes(FPath), QByteArray("[DLV]\r\nDatabase=Citt\xE0 \x80\r\nPort=-5\r\nAutomaticMode=0\r\n"
                                           "[FE]\r\nCartellaDaInviare=/srv/fatture\r\n"));
}

TEST_F(ConfigFileTest, AWriteChangesOnlyTheLineItWrites)
{
    // LF line ends, odd spacing, a comment, blank lines and a byte that Windows-1252 leaves unassigned.
    const QByteArray before = "; settings\n[DLV]\nDatabase = old \nUsername=\x81mario\n\n[FE]\r\nX=1\n\n";
    WriteBytes(FPath, before);
    TConfigFile config(FPath);
    config.WriteString("dlv", "DATABASE", "new");
    EXPECT_EQ(ReadBytes(FPath),
              QByteArray("; settings\n[DLV]\nDATABASE=new\nUsername=\x81mario\n\n[FE]\r\nX=1\n\n"));

    config.WriteString("DLV", "Password", "pw");
    EXPECT_EQ(
        ReadBytes(FPath),
        QByteArray("; settings\n[DLV]\nDATABASE=new\nUsername=\x81mario\nPassword=pw\r\n\n[FE]\r\nX=1\n\n"))
        << "a new key goes after the last key of its section";

    config.WriteString("Level", "Level", "normal");
    EXPECT_EQ(ReadBytes(FPath),
              QByteArray("; settings\n[DLV]\nDATABASE=new\nUsername=\x81mario\nPassword=pw\r\n\n"
                         "[FE]\r\nX=1\n\n[Level]\r\nLevel=normal\r\n"))
        << "a missing section goes at the end";
}

TEST_F(ConfigFileTest, AWriteAfterALastLineWithoutLineEndStartsANewLine)
{
    struct TCase
    {
        const char* before;
        const char* section;
        const char* after;
    };
    const TCase cases[] = {
        {"[DLV]", "DLV", "[DLV]\r\nDatabase=x\r\n"},
        {"[DLV]\nA=1", "DLV", "[DLV]\nA=1\r\nDatabase=x\r\n"},
        {"[DLV]\nA=1", "FE", "[DLV]\nA=1\r\n[FE]\r\nDatabase=x\r\n"},
        {"", "FE", "[FE]\r\nDatabase=x\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        WriteBytes(FPath, c.before);
        TConfigFile config(FPath);
        config.WriteString(c.section, "Database", "x");
        EXPECT_EQ(ReadBytes(FPath), QByteArray(c.after));
    }
}

TEST_F(ConfigFileTest, WrittenTextReadsBackUnchanged)
{
    const char* values[] = {"plain",  " leading", "trailing ", "'quoted'", "\"quoted\"",
                            "\"half", "",         "a=b",       "x'"};
    TConfigFile config(FPath);
    for (const char* value : values) {
        SCOPED_TRACE(value);
        config.WriteString("DLV", "Database", value);
        EXPECT_EQ(config.ReadString("DLV", "Database", "default"), QString::fromUtf8(value));
        EXPECT_EQ(TConfigFile(FPath).ReadString("DLV", "Database", "default"), QString::fromUtf8(value));
    }
}

TEST_F(ConfigFileTest, TextThatWindows1252CannotHoldTurnsTheFileIntoUtf16)
{
    WriteBytes(FPath, "[DLV]\r\nDatabase=Citt\xE0\r\n");
    TConfigFile config(FPath);
    config.WriteString("FE", "CartellaDaInviare", "/home/ΑΒΓ/日本");
    EXPECT_EQ(ReadBytes(FPath),
              Utf16Le("[DLV]\r\nDatabase=Città\r\n[FE]\r\nCartellaDaInviare=/home/ΑΒΓ/日本\r\n"));
    EXPECT_EQ(config.ReadString("FE", "CartellaDaInviare", ""), "/home/ΑΒΓ/日本");
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "Città");
}

TEST_F(ConfigFileTest, AUtf16FileIsReadAndWrittenAsUtf16)
{
    WriteBytes(FPath, Utf16Le("[DLV]\r\nDatabase=日本\r\n\r\n[FE]\nCheckIntervalSec=0x3C\n"));
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "日本");
    EXPECT_EQ(config.ReadInteger("FE", "CheckIntervalSec", 120), 60);

    config.WriteString("DLV", "Username", "Ωmega");
    config.WriteString("DLV", "Database", "abc");
    EXPECT_EQ(ReadBytes(FPath),
              Utf16Le("[DLV]\r\nDatabase=abc\r\nUsername=Ωmega\r\n\r\n[FE]\nCheckIntervalSec=0x3C\n"));
}

TEST_F(ConfigFileTest, AUtf8FileIsReadAndWrittenAsUtf8WithOrWithoutByteOrderMark)
{
    for (const QByteArray& mark : {QByteArray("\xEF\xBB\xBF"), QByteArray()}) {
        SCOPED_TRACE(mark.isEmpty() ? "without a mark" : "with a mark, which keeps the first section");
        WriteBytes(FPath, mark + "[FE]\r\nCartellaDaInviare=/srv/Fatture \xC3\xA8\r\n");
        TConfigFile config(FPath);
        EXPECT_EQ(config.ReadString("FE", "CartellaDaInviare", ""), "/srv/Fatture è");
        config.WriteString("FE", "Database", "Città");
        config.WriteString("DLV", "Username", "日本");
        EXPECT_EQ(ReadBytes(FPath),
                  mark + "[FE]\r\nCartellaDaInviare=/srv/Fatture \xC3\xA8\r\nDatabase=Citt\xC3\xA0\r\n"
                         "[DLV]\r\nUsername=\xE6\x97\xA5\xE6\x9C\xAC\r\n");
    }
}

TEST_F(ConfigFileTest, EveryReadSeesTheFileAsItIsOnDisk)
{
    WriteBytes(FPath, "[DLV]\r\nDatabase=aaa\r\n");
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "aaa");
    WriteBytes(FPath, "[DLV]\r\nDatabase=bbb\r\n"); // same size, same moment
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "bbb");

    // Once the file has settled its parsed form is reused; a change in place that even puts the
    // modification time back must still be seen.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "bbb");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(FPath).constData(), &st), 0);
    WriteBytes(FPath, "[DLV]\r\nDatabase=ccc\r\n");
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(FPath).constData(), times, 0), 0);
    EXPECT_EQ(config.ReadString("DLV", "Database", ""), "ccc");

    QFile::remove(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", "gone"), "gone");
}

// --- failed writes, atomicity and permissions ---------------------------------------------------

TEST_F(ConfigFileTest, AFailedWriteLeavesTheOldFileWholeAndNoTemporaryFile)
{
    const QByteArray before = "[DLV]\r\nDatabase=" + QByteArray(4000, 'a') + "\r\n";
    WriteBytes(FPath, before);
    TConfigFile config(FPath);

    // A full disk, as far as this process can tell: writes beyond 1000 bytes fail with EFBIG.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    QString message;
    try {
        config.WriteString("DLV", "Username", "mario");
    } catch (const EVornError& e) {
        message = e.Message();
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(message, "Unable to write to " + FPath);
    EXPECT_EQ(ReadBytes(FPath), before);
    EXPECT_EQ(Entries(), QStringList{"VORN_Automatic.ini"});
}

TEST_F(ConfigFileTest, AFailedWriteNamesTheFullPath)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(FDir.path()));
    QString message;
    try {
        TConfigFile config(QStringLiteral("missing/VORN_Automatic.ini"));
        config.WriteString("DLV", "Database", "x");
    } catch (const EVornError& e) {
        message = e.Message();
    }
    QDir::setCurrent(previous);
    EXPECT_EQ(message, "Unable to write to " + FDir.filePath("missing/VORN_Automatic.ini"));
}

TEST_F(ConfigFileTest, RefusedWritesChangeNothing)
{
    WriteBytes(FPath, "[DLV]\r\nDatabase=a\r\n");
    TConfigFile config(FPath);
    struct TCase
    {
        const char* section;
        const char* key;
        const char* value;
    };
    // Each of these would read back as something else or inject lines of its own.
    const TCase cases[] = {{"DLV", "Database", "a\r\n[DLV]\r\nPassword=x"},
                           {"DLV", "Data=base", "x"},
                           {"DL]V", "Database", "x"},
                           {"", "Database", "x"},
                           {"DLV", " ", "x"},
                           {"DLV", ";Database", "x"},
                           {"DLV\n", "Database", "x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_THROW(config.WriteString(c.section, c.key, c.value), EVornError);
        EXPECT_EQ(ReadBytes(FPath), QByteArray("[DLV]\r\nDatabase=a\r\n"));
    }
}

TEST_F(ConfigFileTest, AFileThatCannotBeReadIsNotReplaced)
{
    ASSERT_TRUE(QDir(FDir.path()).mkdir("VORN_Automatic.ini"));
    TConfigFile config(FPath);
    EXPECT_EQ(config.ReadString("DLV", "Database", "default"), "default");
    EXPECT_THROW(config.WriteString("DLV", "Database", "x"), EVornError);
    EXPECT_TRUE(QFileInfo(FPath).isDir());
}

// A shared install: the folder is read-only to the user, the file is not. No temporary can go beside
// the file, so a writable file is rewritten in place instead; a read-only one fails and stays.
// Root passes every permission check, so as root the writes run as another user.
TEST_F(ConfigFileTest, AReadOnlyFolderRewritesAWritableFileInPlaceAndKeepsAReadOnlyOne)
{
    const struct
    {
        const char* Name;
        mode_t FileMode;
        QByteArray After;
    } cases[] = {
        {"writable file", 0600, "[DLV]\r\nDatabase=nuovo valore\r\nUsername=u\r\n"},
        {"read-only file", 0400, "[DLV]\r\nDatabase=a\r\n"},
    };
    const QByteArray folder = QFile::encodeName(FDir.path());
    const QByteArray file = QFile::encodeName(FPath);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ::chmod(folder.constData(), 0700);
        WriteBytes(FPath, "[DLV]\r\nDatabase=a\r\n");
        ASSERT_EQ(::chmod(file.constData(), c.FileMode), 0);
        ASSERT_EQ(::chmod(folder.constData(), 0500), 0);
        if (CanBecomeOtherUser()) {
            ASSERT_TRUE(GiveToOtherUser(FDir.path()) && GiveToOtherUser(FPath));
        }
        struct stat before
        {
        };
        ASSERT_EQ(::stat(file.constData(), &before), 0);
        // 0: both writes made; 1: the first refused with the message; 2: anything else.
        const auto write = [&] {
            try {
                TConfigFile config(FPath);
                config.WriteString("DLV", "Database", "nuovo valore");
                config.WriteString("DLV", "Username", "u");
                return 0;
            } catch (const EVornError& e) {
                return e.Message() == "Unable to write to " + FPath ? 1 : 2;
            }
        };

        const int result = CanBecomeOtherUser() ? RunAsOtherUser(write) : write();

        EXPECT_EQ(result, c.FileMode == 0600 ? 0 : 1);
        EXPECT_EQ(ReadBytes(FPath), c.After);
        struct stat after
        {
        };
        ASSERT_EQ(::stat(file.constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten in place, not replaced";
        EXPECT_EQ(after.st_mode & 07777, c.FileMode);
        EXPECT_EQ(Entries(), QStringList{"VORN_Automatic.ini"});
    }
    ::chmod(folder.constData(), 0700);
}

TEST_F(ConfigFileTest, ANewFileIsForItsOwnerOnlyAndAnExistingOneKeepsItsMode)
{
    const mode_t previousMask = ::umask(0);
    {
        TConfigFile config(FPath);
        config.WriteString("DLV", "Password", EncodePassword("segreto"));
    }
    ::umask(previousMask);
    EXPECT_EQ(ModeOf(FPath), 0600u);

    ASSERT_EQ(::chmod(QFile::encodeName(FPath).constData(), 0640), 0);
    TConfigFile config(FPath);
    config.WriteString("DLV", "Database", "x");
    EXPECT_EQ(ModeOf(FPath), 0640u);
    EXPECT_EQ(Entries(), QStringList{"VORN_Automatic.ini"});
}

TEST_F(ConfigFileTest, AWriteThroughASymbolicLinkKeepsTheLink)
{
    const QString real = FDir.filePath("real.ini");
    WriteBytes(real, "[DLV]\r\nDatabase=a\r\n");
    ASSERT_TRUE(QFile::link(real, FPath));
    TConfigFile config(FPath);
    config.WriteString("DLV", "Database", "b");
    EXPECT_TRUE(QFileInfo(FPath).isSymLink());
    EXPECT_EQ(ReadBytes(real), QByteArray("[DLV]\r\nDatabase=b\r\n"));
}

// In a folder that others may write, a link somebody else left at the file's name must not lead
// the write to the file it names (ours, the previous test, is followed).
TEST_F(ConfigFileTest, ALinkSomebodyElsePlantedIsNotWrittenThrough)
{
    if (!CanBecomeOtherUser())
        GTEST_SKIP() << "only root can plant a link as another user";
    const QString victim = FDir.filePath("victim.ini");
    WriteBytes(victim, "[DLV]\r\nDatabase=a\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(FDir.path()).constData(), 0777), 0);
    ASSERT_EQ(RunAsOtherUser([&] { return QFile::link(victim, FPath) ? 0 : 1; }), 0);

    TConfigFile config(FPath);
    try {
        config.WriteString("DLV", "Database", "b");
        ADD_FAILURE() << "written";
    } catch (const EVornError& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + FPath);
    }
    EXPECT_EQ(ReadBytes(victim), QByteArray("[DLV]\r\nDatabase=a\r\n"));
    EXPECT_TRUE(QFileInfo(FPath).isSymLink());
    EXPECT_EQ(Entries(), (QStringList{"victim.ini", "VORN_Automatic.ini"}));
}

} // namespace
