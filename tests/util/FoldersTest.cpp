#include "util/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/support/Files.h"
#include "tests/support/Print.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList List(const QString& mask, const QLocale& locale = QLocale::c())
{
    const std::unique_ptr<QStringList> names = ListFolder(mask, locale);
    return names ? *names : QStringList{"<null>"};
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
    WriteBytes(Path("IT01_00001.xml"), "a");
    WriteBytes(Path("IT01_00002.p7m"), "b");
    WriteBytes(Path(".hidden.xml"), "c");
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
        WriteBytes(Path(QString::fromUtf8(name)), "x");
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
        WriteBytes(Path(name), "x");
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
    WriteBytes(Path("a.xml"), "x");
    EXPECT_EQ(List(FTemp.path() + u'\\' + QStringLiteral("*.*")), QStringList{"a.xml"});
    EXPECT_EQ(List(FTemp.path() + QStringLiteral("//*.xml")), QStringList{"a.xml"});
}

TEST_F(ListFolderTest, MissingEmptyOrUnreadableFolderGivesAnEmptyList)
{
    EXPECT_EQ(List(Mask()), QStringList{});
    EXPECT_EQ(List(Path("missing") + QStringLiteral("/*.*")), QStringList{});
    WriteBytes(Path("file"), "x");
    EXPECT_EQ(List(Path("file") + QStringLiteral("/*.*")), QStringList{});

    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("locked")));
    WriteBytes(Path("locked/a.xml"), "x");
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
    WriteBytes(Path("good.xml"), "x");
    const QByteArray bad = QFile::encodeName(FTemp.path()) + "/bad\xff.xml";
    const int fd = open(bad.constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(List(Mask()), QStringList{"good.xml"});
    // Shown to the caller that asks, the byte it cannot decode as "?".
    QStringList unmappable;
    EXPECT_EQ(*ListFolder(Mask(), QLocale::c(), &unmappable), QStringList{"good.xml"});
    EXPECT_EQ(unmappable, QStringList{"bad?.xml"});
}

class MakeFolderTest : public ListFolderTest
{
};

// Between the caller's look and the creation another process may make the folder: that is success.
TEST_F(MakeFolderTest, SucceedsWhenTheFolderIsThereAfterAll)
{
    ASSERT_TRUE(QDir(FTemp.path()).mkdir("made meanwhile"));
    ASSERT_TRUE(QFile::link(Path("made meanwhile"), Path("link to a folder")));
    WriteBytes(Path("a file"), "x");
    const struct
    {
        const char* Name;
        bool Made;
    } cases[] = {
        {"new", true},     {"made meanwhile", true}, {"link to a folder", true},
        {"a file", false}, {"missing/new", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(MakeFolder(Path(c.Name)), c.Made);
        EXPECT_EQ(QFileInfo(Path(c.Name)).isDir(), c.Made);
    }
}

TEST(JoinPathTest, OneSeparatorBetweenFolderAndName)
{
    EXPECT_EQ(JoinPath("/a/b", "c.xml"), "/a/b/c.xml");
    EXPECT_EQ(JoinPath("/a/b/", "c.xml"), "/a/b/c.xml");
    EXPECT_EQ(JoinPath("/", "c.xml"), "/c.xml");
}

} // namespace
