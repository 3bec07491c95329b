#include "util/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/util/QtPrint.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList List(const QString& mask, const QLocale& locale = QLocale::c())
{
    const std::unique_ptr<QStringList> names = ListFolder(mask, locale);
    return names ? *names : QStringList{"<null>"};
}

TEST(TimestampText, FourteenDigitsWithoutSeparators)
{
    EXPECT_EQ(TimestampText(QDateTime(QDate(2024, 3, 2), QTime(9, 5, 3))), QStringLiteral("20240302090503"));
    EXPECT_EQ(TimestampText(QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59))),
              QStringLiteral("20231231235959"));

    const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString now = TimestampText();
    const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{14}$")).match(now).hasMatch()) << now.toStdString();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

class ListFolderTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(FTemp.isValid()); }
    QString Path(const QString& name) const { return FTemp.filePath(name); }
    QString Mask(const QString& pattern = QStringLiteral("*.*")) const
    {
        return FTemp.path() + u'/' + pattern;
    }

    QTemporaryDir FTemp;
};

TEST_F(ListFolderTest, ListsFilesOnlyAndHiddenOnesToo)
{
    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("Inviate")));
    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("Errori")));
    WriteFile(Path("IT01_00001.xml"), "a");
    WriteFile(Path("IT01_00002.p7m"), "b");
    WriteFile(Path(".hidden.xml"), "c");
    ASSERT_EQ(symlink("Inviate", Path("link-to-folder").toUtf8().constData()), 0);
    ASSERT_EQ(symlink("IT01_00001.xml", Path("link-to-file.xml").toUtf8().constData()), 0);
    ASSERT_EQ(symlink("nowhere", Path("dangling.xml").toUtf8().constData()), 0);
    ASSERT_EQ(mkfifo(Path("pipe.xml").toUtf8().constData(), 0600), 0);

    EXPECT_EQ(List(Mask()),
              (QStringList{".hidden.xml", "IT01_00001.xml", "IT01_00002.p7m", "link-to-file.xml"}));
}

TEST_F(ListFolderTest, SortsWithoutCaseInTheLocalesOrder)
{
    for (const char* name : {"c.xml", "b.xml", "A.xml", "Éclair.xml", "ecco.xml", "fine.xml", "B2.xml"})
        WriteFile(Path(QString::fromUtf8(name)), "x");
    // Code-point order would put "A" and "B2" before "b", and "É" after "f".
    const QStringList expected{"A.xml", "b.xml", "B2.xml", "c.xml", "ecco.xml", "Éclair.xml", "fine.xml"};
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Italian, QLocale::Italy)}) {
        SCOPED_TRACE(locale.name().toStdString());
        EXPECT_EQ(List(Mask(), locale), expected);
    }
}

TEST_F(ListFolderTest, WildcardsFollowTheWindowsRules)
{
    for (const char* name :
         {"a.xml", "B.XML", "ab.xml", "noext", "report", "report.txt", "a.xml.bak", "x.p7m"})
        WriteFile(Path(name), "x");
    const struct
    {
        const char* Pattern;
        QStringList Expected;
    } cases[] = {
        {"*.*", {"a.xml", "a.xml.bak", "ab.xml", "B.XML", "noext", "report", "report.txt", "x.p7m"}},
        {"*", {"a.xml", "a.xml.bak", "ab.xml", "B.XML", "noext", "report", "report.txt", "x.p7m"}},
        {"*.xml", {"a.xml", "ab.xml", "B.XML"}},
        {"?.xml", {"a.xml", "B.XML"}},
        {"report.*", {"report", "report.txt"}},
        {"A*", {"a.xml", "a.xml.bak", "ab.xml"}},
        {"*.x*", {"a.xml", "a.xml.bak", "ab.xml", "B.XML"}},
        {"none*", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Pattern);
        EXPECT_EQ(List(Mask(QString::fromLatin1(c.Pattern))), c.Expected);
    }
}

TEST_F(ListFolderTest, AcceptsEitherSeparatorBeforeThePattern)
{
    WriteFile(Path("a.xml"), "x");
    EXPECT_EQ(List(FTemp.path() + u'\\' + QStringLiteral("*.*")), QStringList{"a.xml"});
    EXPECT_EQ(List(FTemp.path() + QStringLiteral("//*.xml")), QStringList{"a.xml"});
}

TEST_F(ListFolderTest, MissingEmptyOrUnreadableFolderGivesAnEmptyList)
{
    EXPECT_EQ(List(Mask()), QStringList{});
    EXPECT_EQ(List(Path("missing") + QStringLiteral("/*.*")), QStringList{});
    WriteFile(Path("file"), "x");
    EXPECT_EQ(List(Path("file") + QStringLiteral("/*.*")), QStringList{});

    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("locked")));
    WriteFile(Path("locked/a.xml"), "x");
    ASSERT_EQ(chmod(Path("locked").toUtf8().constData(), 0), 0);
    if (geteuid() != 0) { // root reads every folder
        EXPECT_EQ(List(Path("locked") + QStringLiteral("/*.*")), QStringList{});
    }
    chmod(Path("locked").toUtf8().constData(), 0700);
}

// A name whose bytes are not valid UTF-8 could not be opened again through the text we would hand
// out; it stays where it is instead of failing the caller on every pass.
TEST_F(ListFolderTest, SkipsNamesThatCannotBeReopened)
{
    WriteFile(Path("good.xml"), "x");
    const QByteArray bad = QFile::encodeName(FTemp.path()) + "/bad\xff.xml";
    const int fd = open(bad.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(List(Mask()), QStringList{"good.xml"});
}

class MoveFileToTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(FTemp.isValid()); }
    QString Path(const QString& name) const { return FTemp.filePath(name); }

    QTemporaryDir FTemp;
};

TEST_F(MoveFileToTest, MovesIntoAnotherFolder)
{
    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("Inviate")));
    WriteFile(Path("a.xml"), "invoice");
    EXPECT_TRUE(MoveFileTo(Path("a.xml"), Path("Inviate/a_42.xml")));
    EXPECT_FALSE(QFileInfo::exists(Path("a.xml")));
    EXPECT_EQ(ReadFile(Path("Inviate/a_42.xml")), QByteArray("invoice"));
}

TEST_F(MoveFileToTest, NeverReplacesAnExistingTarget)
{
    WriteFile(Path("a.xml"), "new");
    WriteFile(Path("b.xml"), "old");
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), Path("b.xml")));
    EXPECT_EQ(ReadFile(Path("a.xml")), QByteArray("new"));
    EXPECT_EQ(ReadFile(Path("b.xml")), QByteArray("old"));
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), Path("a.xml")));
    EXPECT_EQ(ReadFile(Path("a.xml")), QByteArray("new"));
}

TEST_F(MoveFileToTest, FailsWithoutTouchingAnything)
{
    WriteFile(Path("a.xml"), "invoice");
    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("folder")));
    WriteFile(Path("folder/inside"), "x");

    EXPECT_FALSE(MoveFileTo(Path("missing.xml"), Path("b.xml")));
    EXPECT_FALSE(QFileInfo::exists(Path("b.xml")));
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), Path("no-such-folder/a.xml")));
    EXPECT_EQ(ReadFile(Path("a.xml")), QByteArray("invoice"));
    EXPECT_FALSE(MoveFileTo(Path("folder"), Path("moved-folder")));
    EXPECT_EQ(ReadFile(Path("folder/inside")), QByteArray("x"));
    EXPECT_FALSE(QFileInfo::exists(Path("moved-folder")));
    EXPECT_FALSE(MoveFileTo(QString(), Path("b.xml")));
}

// Between file systems the file is copied: bytes, mode and modification time arrive, the source goes,
// and a failure leaves the source alone and no partial target.
class MoveAcrossDevices : public MoveFileToTest
{
protected:
    void SetUp() override
    {
        MoveFileToTest::SetUp();
        FOther = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/vorn-move-XXXXXX"));
        struct stat here, there;
        if (!FOther->isValid() || stat(FTemp.path().toUtf8().constData(), &here) != 0 ||
            stat(FOther->path().toUtf8().constData(), &there) != 0 || here.st_dev == there.st_dev)
            GTEST_SKIP() << "no second file system at /dev/shm";
    }
    QString OtherPath(const QString& name) const { return FOther->filePath(name); }

    std::unique_ptr<QTemporaryDir> FOther;
};

TEST_F(MoveAcrossDevices, CopiesBytesModeAndTimeThenRemovesTheSource)
{
    QByteArray bytes;
    for (int i = 0; i < 700 * 1024; ++i) // larger than one copy buffer
        bytes.append(char(i * 7));
    WriteFile(Path("a.p7m"), bytes);
    ASSERT_EQ(chmod(Path("a.p7m").toUtf8().constData(), 0640), 0);
    const struct timespec times[2] = {{1700000000, 0}, {1600000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, Path("a.p7m").toUtf8().constData(), times, 0), 0);

    ASSERT_TRUE(MoveFileTo(Path("a.p7m"), OtherPath("a.p7m")));
    EXPECT_FALSE(QFileInfo::exists(Path("a.p7m")));
    EXPECT_EQ(ReadFile(OtherPath("a.p7m")), bytes);
    struct stat info;
    ASSERT_EQ(stat(OtherPath("a.p7m").toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123456789);
}

TEST_F(MoveAcrossDevices, FailureLeavesTheSourceAndNoPartialTarget)
{
    WriteFile(Path("a.xml"), "new");
    WriteFile(OtherPath("b.xml"), "old");
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), OtherPath("b.xml")));
    EXPECT_EQ(ReadFile(Path("a.xml")), QByteArray("new"));
    EXPECT_EQ(ReadFile(OtherPath("b.xml")), QByteArray("old"));

    EXPECT_FALSE(MoveFileTo(Path("a.xml"), OtherPath("missing/a.xml")));
    EXPECT_EQ(ReadFile(Path("a.xml")), QByteArray("new"));

    // The source cannot be removed (its folder is read-only): the copy is taken back.
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(FTemp.path().toUtf8().constData(), 0500), 0);
        EXPECT_FALSE(MoveFileTo(Path("a.xml"), OtherPath("a.xml")));
        chmod(FTemp.path().toUtf8().constData(), 0700);
        EXPECT_EQ(ReadFile(Path("a.xml")), QByteArray("new"));
        EXPECT_FALSE(QFileInfo::exists(OtherPath("a.xml")));
    }
}

} // namespace
