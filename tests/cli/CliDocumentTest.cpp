// The download's write: a file that is whole or not there, never written through a link, and never
// one of the program's own files.

#include "cli/CliDocument.h"
#include "util/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(CliDocumentTest, WriteKeepsAnExistingFileUnlessAskedToReplaceIt)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fattura.xml"));
    WriteDocumentFile(file, "prima", false);
    EXPECT_THROW(WriteDocumentFile(file, "seconda", false), EVornError);
    QFile check(file);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), "prima");
    check.close();

    WriteDocumentFile(file, "seconda", true);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), "seconda");
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("fattura.xml")});
}

TEST(CliDocumentTest, WriteIntoAMissingFolderFailsAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("manca/fattura.xml"));
    try {
        WriteDocumentFile(file, "x", false);
        ADD_FAILURE() << "no failure";
    } catch (const EVornError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Cannot write ") + file + QStringLiteral(": ")))
            << e.Message().toStdString();
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// The working folder may be shared: a link at the document's name is never written through, with
// or without --force, whether the file it names exists or not.
TEST(CliDocumentTest, ALinkAtTheTargetIsNeverWrittenThrough)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("fattura.xml"));
    const QString existing = dir.filePath(QStringLiteral("existing"));
    const QString missing = dir.filePath(QStringLiteral("missing"));
    QFile victim(existing);
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("precious");
    victim.close();
    for (const QString& target : {existing, missing}) {
        SCOPED_TRACE(target.toStdString());
        QFile::remove(file);
        ASSERT_TRUE(QFile::link(target, file));

        EXPECT_THROW(WriteDocumentFile(file, "documento", false), EVornError);
        EXPECT_TRUE(QFileInfo(file).isSymLink());
        WriteDocumentFile(file, "documento", true);

        EXPECT_FALSE(QFileInfo(file).isSymLink());
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), "documento");
        ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
        EXPECT_EQ(victim.readAll(), "precious");
        victim.close();
        EXPECT_FALSE(QFileInfo::exists(missing));
    }
}

// A download never writes the program's own files, wherever it is asked to and with --force too:
// a document named after the track cache would otherwise be read as one.
TEST(CliDocumentTest, TheProgramsOwnFilesAreNeverWritten)
{
    QTemporaryDir dir;
    const struct
    {
        const char* Name;
        bool Own;
    } cases[] = {
        {"VORN_Automatic.ini", true},       {"VORN_Automatic.log", true},
        {"VORN_Automatic.log.st", true},    {"VORN_Automatic.track.json", true},
        {".vorn-pull.index", true},         {".vorn-pull.part.Ab3dEf6hIj9L", true},
        {".vorn-dispatch.lock", true},      {".vorn-dispatch.journal", true},
        {"VORN_Automatic.ini.xml", false},  {"vorn_automatic.ini", false},
        {"IT01234567890_00001.xml", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString file = dir.filePath(QLatin1String(c.Name));
        EXPECT_EQ(IsProgramFileName(QStringLiteral("sotto/../") + QLatin1String(c.Name)), c.Own);
        if (c.Own) {
            EXPECT_THROW(WriteDocumentFile(file, "documento", true), EVornError);
            EXPECT_THROW(WriteDocumentFile(file, "documento", false), EVornError);
            EXPECT_FALSE(QFileInfo::exists(file));
        } else {
            WriteDocumentFile(file, "documento", true);
            EXPECT_TRUE(QFileInfo::exists(file));
        }
    }
}

} // namespace
