// The installed tree, as `cmake --install <build> --prefix /usr --component <package>` puts it into
// a temporary DESTDIR: exactly the application's files with their modes, icons that are the
// program's drawing, valid desktop and software-centre entries and manual pages, hardened service
// units, the shell completion of vorn-cli, and the launcher, run from there, with the real window
// program (offscreen) behind it.

#include "tests/support/EndToEnd.h"
#include "tests/support/Files.h"
#include "tests/support/Print.h"

#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace {

const QString kPackage = QStringLiteral(VORN_PACKAGE_NAME);
const QString kLauncher = QStringLiteral("usr/bin/vorn-automatic");
const QString kDesktopEntry = QStringLiteral("usr/share/applications/it.vorn.automatic.desktop");
const QString kMetainfo = QStringLiteral("usr/share/metainfo/it.vorn.automatic.metainfo.xml");
const QString kCompletion = QStringLiteral("usr/share/bash-completion/completions/vorn-cli");
const QString kSystemUnit = QStringLiteral("usr/lib/systemd/system/vorn-agent@.service");
const QString kUserUnit = QStringLiteral("usr/lib/systemd/user/vorn-agent.service");
const QString kTemplate = QStringLiteral("usr/share/vorn-automatic/autostart.desktop");
const std::vector<int> kIconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

// Every file of the install and its mode: nothing more (no test tool, no substitute backend), nothing less.
std::map<QString, int> ExpectedFiles()
{
    std::map<QString, int> files = {
        {"usr/bin/VORN_Automatic", 0755},
        {"usr/bin/vorn-automatic", 0755},
        {"usr/bin/vorn-cli", 0755},
        {"usr/bin/vorn-agent", 0755},
        {kSystemUnit, 0644},
        {kUserUnit, 0644},
        {kDesktopEntry, 0644},
        {kMetainfo, 0644},
        {kCompletion, 0644},
        {"usr/share/vorn-automatic/autostart.desktop", 0644},
        {"usr/share/icons/hicolor/scalable/apps/vorn-automatic.svg", 0644},
        {"usr/share/man/man1/VORN_Automatic.1.gz", 0644},
        {"usr/share/man/man1/vorn-automatic.1.gz", 0644},
        {"usr/share/man/man1/vorn-cli.1.gz", 0644},
        {"usr/share/man/man1/vorn-agent.1.gz", 0644},
        {"usr/share/doc/vorn-automatic/copyright", 0644},
        {"usr/share/doc/vorn-automatic/changelog.gz", 0644},
    };
    for (int size : kIconSizes)
        files[QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/vorn-automatic.png").arg(size)] = 0644;
    return files;
}

int Mode(const QString& path)
{
    struct stat status
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

struct TRun
{
    int ExitCode; // -1: did not end normally
    QString Output;
    QString Errors;
};

TRun RunProgram(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = {})
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(120000);
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

class InstallTreeTest : public testing::Test
{
protected:
    // One install for the whole suite: it only reads the build.
    static void SetUpTestSuite()
    {
        Destination = std::make_unique<QTemporaryDir>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DESTDIR", Destination->path());
        const TRun install = RunProgram(
            QStringLiteral(VORN_CMAKE_COMMAND),
            {"--install", QStringLiteral(VORN_BUILD_DIR), "--prefix", "/usr", "--component", kPackage},
            environment);
        InstallErrors = install.ExitCode == 0 ? QString() : install.Output + install.Errors;
    }

    static void TearDownTestSuite() { Destination.reset(); }

    void SetUp() override { ASSERT_TRUE(InstallErrors.isEmpty()) << InstallErrors.toStdString(); }

    static QString Installed(const QString& relative) { return Destination->filePath(relative); }

    static inline std::unique_ptr<QTemporaryDir> Destination;
    static inline QString InstallErrors;
};

TEST_F(InstallTreeTest, TheInstallHoldsExactlyTheApplicationsFilesWithTheirModes)
{
    std::map<QString, int> found;
    QDirIterator it(Destination->path(), QDir::Files | QDir::System | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found[QDir(Destination->path()).relativeFilePath(path)] = Mode(path);
    }
    EXPECT_EQ(found, ExpectedFiles());
}

TEST_F(InstallTreeTest, TheIconInEverySizeIsTheProgramsDrawing)
{
    // Points of the 32 x 32 drawing: outside the disc, inside the disc clear of the tick, on the tick.
    const QColor disc(32, 96, 176);
    const auto matches = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <
                   60 &&
               a.alpha() > 200;
    };
    for (int size : kIconSizes) {
        SCOPED_TRACE(size);
        const QImage image(
            Installed(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/vorn-automatic.png").arg(size)));
        ASSERT_EQ(image.size(), QSize(size, size));
        const auto at = [&](double x, double y) {
            return image.pixelColor(int(x * size / 32), int(y * size / 32));
        };
        EXPECT_EQ(at(0, 0).alpha(), 0);
        EXPECT_TRUE(matches(at(16, 6), disc)) << at(16, 6).name(QColor::HexArgb).toStdString();
        EXPECT_TRUE(matches(at(14, 22.5), Qt::white)) << at(14, 22.5).name(QColor::HexArgb).toStdString();
    }
    const QByteArray svg = ReadBytes(Installed("usr/share/icons/hicolor/scalable/apps/vorn-automatic.svg"));
    EXPECT_TRUE(svg.contains("viewBox=\"0 0 32 32\"") && svg.contains("fill=\"#2060b0\""))
        << svg.toStdString();
}

TEST_F(InstallTreeTest, TheDesktopEntriesAreValid)
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed";
    for (const QString& entry : {kDesktopEntry, kTemplate}) {
        SCOPED_TRACE(entry.toStdString());
        const TRun check = RunProgram(validator, {Installed(entry)});
        EXPECT_EQ(check.ExitCode, 0);
        EXPECT_EQ(check.Output + check.Errors, QString());
    }
}

// The menu, the session, the software centre and systemd find what the entries and units name by
// these names alone (the PATH, the icon theme, the desktop entry's id, man:): each must be a file
// of the install.
TEST_F(InstallTreeTest, TheEntriesAndUnitsNameInstalledFiles)
{
    const QString systemUnit = kSystemUnit;
    const QString userUnit = kUserUnit;
    struct TReference
    {
        QString File;
        QString Line;
        QString Target;
    };
    const TReference references[] = {
        {kDesktopEntry, "Exec=vorn-automatic", kLauncher},
        {kDesktopEntry, "Icon=vorn-automatic", "usr/share/icons/hicolor/scalable/apps/vorn-automatic.svg"},
        {kMetainfo, "<id>it.vorn.automatic</id>", kDesktopEntry},
        {kMetainfo, "<launchable type=\"desktop-id\">it.vorn.automatic.desktop</launchable>", kDesktopEntry},
        {kTemplate, "Exec=vorn-automatic", kLauncher},
        {kTemplate, "Icon=vorn-automatic", "usr/share/icons/hicolor/48x48/apps/vorn-automatic.png"},
        {systemUnit, "ExecStart=vorn-agent", "usr/bin/vorn-agent"},
        {systemUnit, "Documentation=man:vorn-agent(1)", "usr/share/man/man1/vorn-agent.1.gz"},
        {userUnit, "ExecStart=vorn-agent", "usr/bin/vorn-agent"},
        {userUnit, "Documentation=man:vorn-agent(1)", "usr/share/man/man1/vorn-agent.1.gz"},
    };
    for (const TReference& reference : references) {
        SCOPED_TRACE((reference.File + ": " + reference.Line).toStdString());
        QStringList lines = QString::fromUtf8(ReadBytes(Installed(reference.File))).split('\n');
        for (QString& line : lines)
            line = line.trimmed();
        EXPECT_TRUE(lines.contains(reference.Line));
        EXPECT_TRUE(QFileInfo(Installed(reference.Target)).isFile());
    }
}

TEST_F(InstallTreeTest, EveryProgramHasAManualPageThatFormatsWithoutWarnings)
{
    const bool haveGroff = !QStandardPaths::findExecutable("groff").isEmpty();
    for (const QString& program : QDir(Installed("usr/bin")).entryList(QDir::Files)) {
        SCOPED_TRACE(program.toStdString());
        const QString page = Installed("usr/share/man/man1/" + program + ".1.gz");
        ASSERT_TRUE(QFileInfo::exists(page));
        if (!haveGroff)
            continue;
        const TRun format = RunProgram("sh", {"-c", "gzip -dc -- \"$1\" | groff -man -ww -z", "sh", page});
        EXPECT_EQ(format.ExitCode, 0);
        EXPECT_EQ(format.Errors, QString());
    }
}

TEST_F(InstallTreeTest, TheSoftwareCentreEntryValidatesWithoutAWarning)
{
    const QString validator = QStandardPaths::findExecutable("appstreamcli");
    if (validator.isEmpty())
        GTEST_SKIP() << "appstreamcli is not installed";
    const TRun check = RunProgram(validator, {"validate", "--no-net", Installed(kMetainfo)});
    std::cout << check.Output.toStdString() << check.Errors.toStdString();
    EXPECT_EQ(check.ExitCode, 0);
    EXPECT_FALSE(check.Output.contains(QRegularExpression("^[EW]:", QRegularExpression::MultilineOption)));
    // The newest release is this build's version, from the changelog.
    EXPECT_TRUE(ReadBytes(Installed(kMetainfo)).contains("<release version=\"" VORN_PROJECT_VERSION "\""));
}

// The releases of the entry, written from a Debian changelog by the build's own script.
TEST(MetainfoReleasesTest, EveryChangelogEntryIsAReleaseWithItsItems)
{
    struct TRow
    {
        const char* Case;
        QByteArray Changelog;
        QByteArray Releases; // empty: the script must fail
        QString Error;
    };
    const TRow rows[] = {
        {"two entries, newest first; continued items, XML text escaped, a one-digit day",
         "vorn-automatic (2.0.1.0) unstable; urgency=medium\n\n"
         "  * Sends <p7m> & xml;\n    [also] this.\n  * Second item.\n\n"
         " -- A Name <a@b.example>  Mon, 1 Feb 2027 10:00:00 +0100\n\n"
         "vorn-automatic (1.0.0.0) unstable; urgency=low\n\n  * First.\n\n"
         " -- A Name <a@b.example>  Fri, 31 Dec 2026 23:59:59 +0000\n",
         "    <release version=\"2.0.1.0\" date=\"2027-02-01\">\n      <description>\n        <ul>\n"
         "          <li>Sends &lt;p7m&gt; &amp; xml; [also] this.</li>\n          <li>Second item.</li>\n"
         "        </ul>\n      </description>\n    </release>\n"
         "    <release version=\"1.0.0.0\" date=\"2026-12-31\">\n      <description>\n        <ul>\n"
         "          <li>First.</li>\n        </ul>\n      </description>\n    </release>\n",
         {}},
        {"an entry without its trailer", "vorn-automatic (2.0.0.0) unstable; urgency=medium\n\n  * Item.\n",
         {}, "the entry of 2.0.0.0 has no trailer line"},
        {"a trailer with a date that is not one",
         "vorn-automatic (2.0.0.0) unstable; urgency=medium\n\n  * Item.\n\n -- A <a@b.example>  yesterday\n",
         {}, "a trailer line without a date"},
    };
    const QString packaging = QStringLiteral(VORN_PACKAGING_DIR);
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        QTemporaryDir folder;
        WriteBytes(folder.filePath("changelog"), row.Changelog);
        const TRun run = RunProgram(
            QStringLiteral(VORN_CMAKE_COMMAND),
            {"-DTEMPLATE=" + packaging + "/it.vorn.automatic.metainfo.xml.in",
             "-DCHANGELOG=" + folder.filePath("changelog"), "-DCOMPONENT_ID=it.vorn.automatic",
             "-DMAINTAINER=A & B <a@b.example>", "-DOUTPUT=" + folder.filePath("out.xml"), "-P",
             packaging + "/WriteMetainfo.cmake"});
        if (row.Releases.isEmpty()) {
            EXPECT_NE(run.ExitCode, 0);
            // CMake wraps its messages: compared with the line breaks made spaces.
            EXPECT_TRUE(run.Errors.simplified().contains(row.Error)) << run.Errors.toStdString();
            EXPECT_FALSE(QFileInfo::exists(folder.filePath("out.xml")));
            continue;
        }
        ASSERT_EQ(run.ExitCode, 0) << run.Errors.toStdString();
        const QByteArray written = ReadBytes(folder.filePath("out.xml"));
        const qsizetype begin = written.indexOf("<releases>\n") + 11;
        EXPECT_EQ(written.mid(begin, written.indexOf("  </releases>") - begin), row.Releases);
        EXPECT_TRUE(written.contains("<developer_name>A &amp; B</developer_name>"));
        EXPECT_TRUE(written.contains("<update_contact>a@b.example</update_contact>"));
    }
}

// The exposure systemd itself gives each unit, printed, within its bound; and no directive that
// systemd does not take (a misspelt one would be ignored, its protection silently missing).
TEST_F(InstallTreeTest, TheServiceUnitsAreHardenedAndValid)
{
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    struct TUnit
    {
        QString File;
        bool User;
        double MostExposure;
    };
    const TUnit units[] = {{kSystemUnit, false, 2.0}, {kUserUnit, true, 6.5}};
    // A user manager's analysis wants a runtime folder, even offline.
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    for (const TUnit& unit : units) {
        SCOPED_TRACE(unit.File.toStdString());
        QStringList scope = unit.User ? QStringList{"--user"} : QStringList();
        const TRun security =
            RunProgram(analyze, QStringList{"security", "--offline=yes"} + scope + QStringList{Installed(unit.File)},
                       environment);
        const QRegularExpressionMatch score =
            QRegularExpression("Overall exposure level for [^:]+: ([0-9.]+)").match(security.Output);
        ASSERT_TRUE(score.hasMatch()) << security.Output.toStdString() << security.Errors.toStdString();
        std::cout << QFileInfo(unit.File).fileName().toStdString() << ": exposure " << score.captured(1).toStdString()
                  << " (at most " << unit.MostExposure << ")\n";
        EXPECT_LE(score.captured(1).toDouble(), unit.MostExposure) << security.Output.toStdString();

        // The program itself is not installed on this machine, only in the temporary tree.
        const TRun verify = RunProgram(
            analyze, QStringList{"verify", "--man=no"} + scope + QStringList{Installed(unit.File)}, environment);
        QStringList complaints = (verify.Output + verify.Errors).split('\n', Qt::SkipEmptyParts);
        complaints.removeIf([](const QString& line) { return line.contains("Command vorn-agent is not executable"); });
        EXPECT_EQ(complaints, QStringList());
    }
}

// What bash, with bash-completion loaded, offers for a command line, completed at its end in a
// folder with one file and one folder. The completion is loaded on demand from the install, as the
// shell finds it.
TEST_F(InstallTreeTest, TheCompletionOffersCommandsOptionsAndPaths)
{
    const QString loader = QStringLiteral("/usr/share/bash-completion/bash_completion");
    if (!QFileInfo::exists(loader))
        GTEST_SKIP() << "bash-completion is not installed";
    QTemporaryDir folder;
    WriteBytes(folder.filePath("fattura.xml"), "<x/>");
    QDir().mkpath(folder.filePath("uscita"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", Installed("usr/bin") + ':' + environment.value("PATH"));
    environment.insert("XDG_DATA_DIRS", Installed("usr/share"));
    environment.insert("HOME", folder.path());
    const QString script = QStringLiteral(
        "source \"$1\" || exit 9\n"
        "cd \"$2\" || exit 9\n"
        "COMP_LINE=$3 COMP_POINT=${#3}\n"
        "read -ra COMP_WORDS <<<\"$3\"\n"
        "[[ $3 == *' ' ]] && COMP_WORDS+=('')\n"
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
        "_completion_loader vorn-cli\n"
        "spec=$(complete -p vorn-cli) || exit 8\n"
        "function=${spec##*-F }; function=${function%% *}\n"
        "\"$function\" vorn-cli \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD - 1]}\"\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '\n");
    struct TRow
    {
        QString Line;
        QString Offered;
    };
    const TRow rows[] = {
        {"vorn-cli tr", "track "},
        {"vorn-cli s", "search-issued search-received set-state status subject "},
        {"vorn-cli --json st", "status "},
        {"vorn-cli --j", "--json "},
        {"vorn-cli track --", "--help --json --refresh --since "},
        {"vorn-cli pull --", "--help --into --json --max --since "},
        {"vorn-cli download --", "--force --help --json --kind --out "},
        {"vorn-cli download --out ", "fattura.xml uscita "},
        {"vorn-cli pull --into ", "uscita "},
        {"vorn-cli pull --into=", "uscita "},
        {"vorn-cli track ", "uscita "},
        {"vorn-cli track --since 2026-01-01 ", "uscita "},
        {"vorn-cli track uscita ", " "},
        {"vorn-cli status ", " "},
        {"vorn-cli search-received --from ", " "},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Line.toStdString());
        const TRun run = RunProgram("bash", {"-c", script, "bash", loader, folder.path(), row.Line}, environment);
        EXPECT_EQ(run.ExitCode, 0) << run.Errors.toStdString();
        EXPECT_EQ(run.Output, row.Offered) << run.Errors.toStdString();
    }
}

// The launcher under a home of its own; XDG_CONFIG_HOME as the row gives it.
class LauncherTest : public InstallTreeTest
{
protected:
    QProcessEnvironment Environment(const QString& configHome) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", Home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.remove("XDG_CONFIG_HOME");
        if (!configHome.isNull())
            environment.insert("XDG_CONFIG_HOME", configHome);
        return environment;
    }

    TRun Launcher(const QStringList& arguments, const QString& configHome = QString()) const
    {
        return RunProgram(Installed(kLauncher), arguments, Environment(configHome));
    }

    QTemporaryDir Home;
};

TEST_F(LauncherTest, ItRunsTheProgramInThePrivateFolderOfTheUser)
{
    struct TRow
    {
        const char* Case;
        QString ConfigHome; // null: unset
        QString Folder;     // where the program must run
        bool FolderExistsOpen = false;
    };
    const QString home = Home.path();
    const TRow rows[] = {
        {"XDG_CONFIG_HOME unset", QString(), home + "/.config/vorn-automatic"},
        {"absolute XDG_CONFIG_HOME", home + "/cfg", home + "/cfg/vorn-automatic"},
        // A relative value is not a base directory at all: ignored, not joined to the working directory.
        {"relative XDG_CONFIG_HOME", "relative", home + "/.config/vorn-automatic"},
        {"the folder exists, readable by all", QString(), home + "/.config/vorn-automatic", true},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        QDir(home).removeRecursively();
        QDir().mkpath(home);
        if (row.FolderExistsOpen) {
            QDir().mkpath(row.Folder);
            ::chmod(QFile::encodeName(row.Folder).constData(), 0755);
        }
        QProcess program;
        program.setProcessEnvironment(Environment(row.ConfigHome));
        program.setWorkingDirectory(home);
        program.start(Installed(kLauncher), {});
        ASSERT_TRUE(program.waitForStarted(10000));
        const QString log = row.Folder + "/VORN_Automatic.log";
        ASSERT_TRUE(WaitUntil([&] { return ReadBytes(log).contains("Log Start"); }, 30000))
            << program.readAllStandardError().toStdString();

        // The launcher has become the program, working in the folder.
        const QString proc = QStringLiteral("/proc/%1/").arg(program.processId());
        EXPECT_EQ(QFileInfo(proc + "exe").symLinkTarget(),
                  QFileInfo(Installed("usr/bin/VORN_Automatic")).canonicalFilePath());
        EXPECT_EQ(QFileInfo(proc + "cwd").symLinkTarget(), QFileInfo(row.Folder).canonicalFilePath());
        EXPECT_EQ(Mode(row.Folder), 0700);
        if (!row.FolderExistsOpen) {
            EXPECT_EQ(Mode(QFileInfo(row.Folder).path()), 0700); // a base directory it had to create
        }

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_TRUE(ReadBytes(log).trimmed().endsWith("Log Stop"));
    }
}

TEST_F(LauncherTest, ItRefusesAFolderThatIsALinkAndDoesNotStartTheProgram)
{
    const QString elsewhere = Home.filePath("elsewhere");
    QDir().mkpath(elsewhere);
    QDir().mkpath(Home.filePath(".config"));
    ASSERT_TRUE(QFile::link(elsewhere, Home.filePath(".config/vorn-automatic")));

    const TRun run = Launcher({});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Errors.contains("is not a folder of the user")) << run.Errors.toStdString();
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
}

TEST_F(LauncherTest, TheAutostartSwitchWritesAndRemovesTheEntry)
{
    const QString entry = Home.filePath(".config/autostart/vorn-automatic.desktop");
    const QByteArray templateText = ReadBytes(Installed(kTemplate));
    struct TStep
    {
        QStringList Arguments;
        int ExitCode;
        bool EntryAfter;
    };
    const TStep steps[] = {
        {{"--autostart", "off"}, 0, false}, // nothing to remove yet
        {{"--autostart", "on"}, 0, true},
        {{"--autostart", "on"}, 0, true}, // again: replaced, still one entry
        {{"--autostart", "maybe"}, 2, true},
        {{"--autostart"}, 2, true},
        {{"--autostart", "off"}, 0, false},
        {{"--autostart", "off"}, 0, false},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Arguments.join(' ').toStdString());
        const TRun run = Launcher(step.Arguments);
        EXPECT_EQ(run.ExitCode, step.ExitCode) << run.Errors.toStdString();
        EXPECT_EQ(QFileInfo::exists(entry), step.EntryAfter);
        if (step.EntryAfter) {
            EXPECT_EQ(ReadBytes(entry), templateText);
            EXPECT_EQ(Mode(entry), 0644);
        }
        // Written whole, through no left-over temporary file.
        EXPECT_EQ(
            QDir(Home.filePath(".config/autostart")).entryList(QDir::Files | QDir::Hidden | QDir::System),
            step.EntryAfter ? QStringList{"vorn-automatic.desktop"} : QStringList());
    }
}

TEST_F(LauncherTest, TheAutostartEntryReplacesALinkInsteadOfWritingThroughIt)
{
    const QString victim = Home.filePath("victim.txt");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("mine\n") == 5);
    file.close();
    const QString configHome = Home.filePath("cfg");
    QDir().mkpath(configHome + "/autostart");
    const QString entry = configHome + "/autostart/vorn-automatic.desktop";
    ASSERT_TRUE(QFile::link(victim, entry));

    const TRun run = Launcher({"--autostart", "on"}, configHome);
    EXPECT_EQ(run.ExitCode, 0) << run.Errors.toStdString();
    EXPECT_FALSE(QFileInfo(entry).isSymLink());
    EXPECT_EQ(ReadBytes(entry), ReadBytes(Installed(kTemplate)));
    EXPECT_EQ(ReadBytes(victim), QByteArray("mine\n"));
}

} // namespace
