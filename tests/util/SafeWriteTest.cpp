// The safe-write path: renames that never replace, and new files that nothing planted can catch
// and that go again unless kept.

#include "util/SafeWrite.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/support/Files.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Print.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SafeWriteTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(FTemp.isValid()); }
    QString Path(const QString& name) const { return FTemp.filePath(name); }
    QByteArray NativePath(const QString& name) const { return QFile::encodeName(Path(name)); }
    QStringList Entries() const
    {
        return QDir(FTemp.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir FTemp;
};

TEST_F(SafeWriteTest, RenameNoReplaceRefusesEveryKindOfTakenName)
{
    const struct
    {
        const char* Name;
        std::function<void(const QString& target)> Plant;
    } cases[] = {
        {"a file", [](const QString& target) { WriteBytes(target, "old"); }},
        {"a dangling link", [](const QString& target) { ASSERT_TRUE(QFile::link("nowhere", target)); }},
        {"a folder", [](const QString& target) { ASSERT_TRUE(QDir().mkdir(target)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        WriteBytes(dir.filePath("source"), "new");
        c.Plant(dir.filePath("target"));
        const QFileInfo before(dir.filePath("target"));

        EXPECT_EQ(RenameNoReplace(QFile::encodeName(dir.filePath("source")),
                                  QFile::encodeName(dir.filePath("target"))),
                  EEXIST);

        EXPECT_EQ(ReadBytes(dir.filePath("source")), "new");
        const QFileInfo after(dir.filePath("target"));
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.isDir(), before.isDir());
    }

    WriteBytes(Path("source"), "new");
    EXPECT_EQ(RenameNoReplace(NativePath("source"), NativePath("free")), 0);
    EXPECT_EQ(ReadBytes(Path("free")), "new");
    EXPECT_EQ(Entries(), QStringList{"free"});
}

TEST_F(SafeWriteTest, ATemporaryGetsAFreshHiddenNameAndGoesUnlessKept)
{
    QByteArray kept;
    {
        TNewFile first = TNewFile::Beside(NativePath("target.ini"), 0600);
        TNewFile second = TNewFile::Beside(NativePath("target.ini"), 0600);
        ASSERT_EQ(first.Error(), 0);
        ASSERT_EQ(second.Error(), 0);
        EXPECT_NE(first.Path(), second.Path());
        EXPECT_TRUE(QFileInfo(QFile::decodeName(first.Path())).fileName().startsWith(".target.ini."));
        EXPECT_EQ(first.Write("bytes"), 0);
        EXPECT_EQ(first.Finish(), 0);
        kept = second.Path();
        second.Keep();
    }
    EXPECT_EQ(Entries(), QStringList{QFileInfo(QFile::decodeName(kept)).fileName()});
}

TEST_F(SafeWriteTest, ANewFileIsNeverOpenedThroughWhatWasPlantedAtItsName)
{
    const QString elsewhere = Path("elsewhere");
    ASSERT_TRUE(QFile::link(elsewhere, Path("planted")));
    {
        const TNewFile file = TNewFile::AtPath(NativePath("planted"), 0600);
        EXPECT_EQ(file.Error(), EEXIST);
    }
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    EXPECT_TRUE(QFileInfo(Path("planted")).isSymLink()) << "a failed creation removes nothing";
}

TEST_F(SafeWriteTest, CreateFileWholeNeverReplacesAndLeavesNoTemporary)
{
    EXPECT_EQ(CreateFileWhole(NativePath("doc.xml"), "first", 0644), 0);
    EXPECT_EQ(CreateFileWhole(NativePath("doc.xml"), "second", 0644), EEXIST);
    EXPECT_EQ(ReadBytes(Path("doc.xml")), "first");
    EXPECT_EQ(ReplaceFile(NativePath("doc.xml"), "third", 0644), 0);
    EXPECT_EQ(ReadBytes(Path("doc.xml")), "third");
    EXPECT_EQ(Entries(), QStringList{"doc.xml"});
}

// A replacement passes on the old file's read and write bits, and only those of a file of ours: a
// file somebody else planted at the name (set-id bits and all) passes on nothing.
TEST_F(SafeWriteTest, AReplacementKeepsOnlyTheReadAndWriteBitsOfAFileOfOurs)
{
    const mode_t umaskBefore = ::umask(022);
    const struct
    {
        const char* Name;
        mode_t Old;
        bool Others;
        mode_t New;
    } cases[] = {
        {"ours, private", 0600, false, 0600},
        {"ours, shared", 0664, false, 0664},
        {"ours, with set-id and execute bits", 06775, false, 0664},
        {"another user's, with set-id bits", 06777, true, 0644},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Others && !CanBecomeOtherUser())
            continue;
        QFile::remove(Path("doc.xml"));
        WriteBytes(Path("doc.xml"), "old");
        if (c.Others) {
            ASSERT_TRUE(GiveToOtherUser(Path("doc.xml")));
        }
        ASSERT_EQ(::chmod(NativePath("doc.xml").constData(), c.Old), 0);

        EXPECT_EQ(ReplaceFile(NativePath("doc.xml"), "new", 0666), 0);

        struct stat info;
        ASSERT_EQ(::stat(NativePath("doc.xml").constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.New);
        EXPECT_EQ(info.st_uid, ::geteuid());
        EXPECT_EQ(ReadBytes(Path("doc.xml")), "new");
    }
    ::umask(umaskBefore);
}

} // namespace
