#include "util/FileMove.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/support/Files.h"
#include "tests/support/Print.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
    WriteBytes(Path("a.xml"), "invoice");
    EXPECT_TRUE(MoveFileTo(Path("a.xml"), Path("Inviate/a_42.xml")));
    EXPECT_FALSE(QFileInfo::exists(Path("a.xml")));
    EXPECT_EQ(ReadBytes(Path("Inviate/a_42.xml")), QByteArray("invoice"));
}

TEST_F(MoveFileToTest, NeverReplacesAnExistingTarget)
{
    WriteBytes(Path("a.xml"), "new");
    WriteBytes(Path("b.xml"), "old");
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), Path("b.xml")));
    EXPECT_EQ(ReadBytes(Path("a.xml")), QByteArray("new"));
    EXPECT_EQ(ReadBytes(Path("b.xml")), QByteArray("old"));
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), Path("a.xml")));
    EXPECT_EQ(ReadBytes(Path("a.xml")), QByteArray("new"));
}

TEST_F(MoveFileToTest, FailsWithoutTouchingAnything)
{
    WriteBytes(Path("a.xml"), "invoice");
    ASSERT_TRUE(QDir(FTemp.path()).mkdir(QStringLiteral("folder")));
    WriteBytes(Path("folder/inside"), "x");

    EXPECT_FALSE(MoveFileTo(Path("missing.xml"), Path("b.xml")));
    EXPECT_FALSE(QFileInfo::exists(Path("b.xml")));
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), Path("no-such-folder/a.xml")));
    EXPECT_EQ(ReadBytes(Path("a.xml")), QByteArray("invoice"));
    EXPECT_FALSE(MoveFileTo(Path("folder"), Path("moved-folder")));
    EXPECT_EQ(ReadBytes(Path("folder/inside")), QByteArray("x"));
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
    WriteBytes(Path("a.p7m"), bytes);
    ASSERT_EQ(chmod(Path("a.p7m").toUtf8().constData(), 0640), 0);
    const struct timespec times[2] = {{1700000000, 0}, {1600000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, Path("a.p7m").toUtf8().constData(), times, 0), 0);

    ASSERT_TRUE(MoveFileTo(Path("a.p7m"), OtherPath("a.p7m")));
    EXPECT_FALSE(QFileInfo::exists(Path("a.p7m")));
    EXPECT_EQ(ReadBytes(OtherPath("a.p7m")), bytes);
    struct stat info;
    ASSERT_EQ(stat(OtherPath("a.p7m").toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123456789);
}

TEST_F(MoveAcrossDevices, FailureLeavesTheSourceAndNoPartialTarget)
{
    WriteBytes(Path("a.xml"), "new");
    WriteBytes(OtherPath("b.xml"), "old");
    EXPECT_FALSE(MoveFileTo(Path("a.xml"), OtherPath("b.xml")));
    EXPECT_EQ(ReadBytes(Path("a.xml")), QByteArray("new"));
    EXPECT_EQ(ReadBytes(OtherPath("b.xml")), QByteArray("old"));

    EXPECT_FALSE(MoveFileTo(Path("a.xml"), OtherPath("missing/a.xml")));
    EXPECT_EQ(ReadBytes(Path("a.xml")), QByteArray("new"));

    // The source cannot be removed (its folder is read-only): the copy is taken back.
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(FTemp.path().toUtf8().constData(), 0500), 0);
        EXPECT_FALSE(MoveFileTo(Path("a.xml"), OtherPath("a.xml")));
        chmod(FTemp.path().toUtf8().constData(), 0700);
        EXPECT_EQ(ReadBytes(Path("a.xml")), QByteArray("new"));
        EXPECT_FALSE(QFileInfo::exists(OtherPath("a.xml")));
    }
}

} // namespace
