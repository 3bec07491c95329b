// The main window in process (offscreen): start-up from the configuration, the settings check and
// its messages, the check timer's period, what OK saves, the modes and the exception hook.

#include "app/Form_Main.h"
#include "app/MessageBox.h"
#include "app/NumericLineEdit.h"
#include "app/VornApplication.h"
#include "backend/DVBackendService.h"
#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "log/LogFile.h"
#include "tests/support/Files.h"
#include "tests/support/FormAccess.h"
#include "tests/support/LogEntries.h"
#include "tests/support/Print.h"
#include "util/Errors.h"
#include "util/Text.h"
#include "util/VersionInfo.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// The messages of the log file, in order.
std::vector<QString> LogMessages()
{
    std::vector<QString> messages;
    for (const LogEntry& entry : ReadLogEntries(TfrmMain::LogFilePath()))
        messages.push_back(entry.Message);
    return messages;
}

// Every test runs in a working directory of its own, with message boxes recorded instead of shown.
class FormMainTest : public testing::Test
{
protected:
    FormMainTest() : FPreviousDir(QDir::currentPath())
    {
        QDir::setCurrent(FDir.path());
        Outgoing = FDir.path() + "/da inviare";
        QDir().mkpath(Outgoing);
        VornMessageBox::SetObserverForTesting([this](const QString& text) { Boxes.push_back(text); });
        // A desktop with a tray, unless a test says otherwise.
        TfrmMain::SetSystemTrayAvailableForTesting(true);
    }
    ~FormMainTest() override
    {
        Form.reset();
        TfrmMain::SetSystemTrayAvailableForTesting(std::nullopt);
        VornMessageBox::SetObserverForTesting({});
        QDir::setCurrent(FPreviousDir);
    }

    void WriteConfig(const QByteArray& text) { WriteBytes(TfrmMain::ConfigFilePath(), text); }

    TfrmMain& Create()
    {
        Form = std::make_unique<TfrmMain>();
        if (AppLog)
            AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
        return *Form;
    }

    // A window whose boxes pass the settings check.
    TfrmMain& CreateFilledIn()
    {
        TfrmMain& form = Create();
        Access::Database(form)->setText(" DEMO01 ");
        Access::Username(form)->setText("\tmario.rossi ");
        Access::Password(form)->setText("  s3gr3ta ");
        Access::Folder(form)->setText(Outgoing);
        Access::Interval(form)->setText("120");
        return form;
    }

    QTemporaryDir FDir;
    QString FPreviousDir;
    QString Outgoing;
    std::vector<QString> Boxes;
    std::unique_ptr<TfrmMain> Form;
};

TEST_F(FormMainTest, WithoutAConfigurationTheBoxesAreEmptyAndNothingStarts)
{
    TfrmMain& form = Create();

    EXPECT_EQ(Access::Database(form)->text(), "");
    EXPECT_EQ(Access::Folder(form)->text(), "");
    EXPECT_EQ(Access::Interval(form)->text(), "120");
    EXPECT_FALSE(Access::AutomaticStart(form)->isChecked());
    EXPECT_FALSE(Access::AutomaticStartArmed(form));
    EXPECT_EQ(Access::Client(form)->FirmType(), "aziende");
    EXPECT_EQ(*Access::XmlMask(form), (QStringList{".xml", ".p7m"}));
    EXPECT_EQ(form.windowTitle(),
              "VORN Automatic (ver. " + GetFileVersions(QCoreApplication::applicationFilePath()).File + ")");
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(QFile::exists(TfrmMain::ConfigFilePath()));
    // The log is there at its default level: the start lines only.
    EXPECT_EQ(LogMessages(), (std::vector<QString>{"Log Start", "Log Level: WARNING"}));
}

TEST_F(FormMainTest, TheConfigurationFillsTheBoxesAndArmsTheAutomaticStart)
{
    WriteConfig(
        "[DLV]\r\nDatabase=DEMO01\r\nUsername=mario\r\nPassword=" + EncodePassword("pàss").toLatin1() +
        "\r\nAutomaticMode=1\r\nFirmType=professionisti\r\n[FE]\r\nCartellaDaInviare=/x/y\r\n"
        "CartellaRicevute=/r\r\nCheckIntervalSec=0x3C\r\n[Level]\r\nLevel=normal\r\n");
    TfrmMain& form = Create();

    EXPECT_EQ(Access::Database(form)->text(), "DEMO01");
    EXPECT_EQ(Access::Username(form)->text(), "mario");
    EXPECT_EQ(Access::Password(form)->text(), "pàss");
    EXPECT_EQ(Access::Folder(form)->text(), "/x/y");
    EXPECT_EQ(Access::ReceivedFolder(form)->text(), "/r");
    EXPECT_EQ(Access::Interval(form)->text(), "60");
    EXPECT_TRUE(Access::AutomaticStart(form)->isChecked());
    EXPECT_TRUE(Access::AutomaticStartArmed(form));
    EXPECT_EQ(Access::Client(form)->FirmType(), "professionisti");
    // Only the firm type reaches the client at start-up.
    EXPECT_EQ(Access::Client(form)->Username(), "");
    EXPECT_EQ(LogMessages(), (std::vector<QString>{"Log Start", "Log Level: WARNING", "Log Level: NORMAL",
                                                   "Caricamento configurazione"}));
}

TEST_F(FormMainTest, APasswordThatDoesNotDecodeEndsTheLoadingWithoutAutomaticStart)
{
    // "////" decodes to the bytes FF FF FF, which are not UTF-8.
    WriteConfig("[DLV]\r\nDatabase=DEMO01\r\nUsername=mario\r\nPassword=////\r\nAutomaticMode=1\r\n"
                "[FE]\r\nCartellaDaInviare=/x/y\r\n");
    TfrmMain& form = Create();

    const QString message = "No mapping for the Unicode character exists in the target multi-byte code page";
    EXPECT_EQ(Boxes, std::vector<QString>{message});
    EXPECT_EQ(LogMessages().back(), message);
    // The boxes read before the failure are filled, the later ones are not.
    EXPECT_EQ(Access::Username(form)->text(), "mario");
    EXPECT_EQ(Access::Folder(form)->text(), "");
    EXPECT_FALSE(Access::AutomaticStartArmed(form));
    // The extension list is there all the same, for when OK enters automatic mode.
    ASSERT_NE(Access::XmlMask(form), nullptr);
    EXPECT_EQ(Access::XmlMask(form)->size(), 2);
}

TEST_F(FormMainTest, ALogThatCannotBeCreatedIsReportedAndTheWindowStillWorks)
{
    QDir().mkpath(TfrmMain::LogFilePath());
    WriteConfig("[DLV]\r\nDatabase=DEMO01\r\n");
    TfrmMain& form = Create();

    EXPECT_EQ(AppLog, nullptr);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Access::Database(form)->text(), "DEMO01");

    // The hook has no log to write to: it still shows the failure.
    Access::Database(form)->clear();
    Access::ClickOk(form);
    EXPECT_EQ(Boxes.back(), "Databse non specificato");
}

struct CheckCase
{
    const char* Name;
    QString Database, Username, Password, Folder, Interval;
    QString Message; // with %1 for the outgoing folder
};

// The rows of the check itself are the engine's (tests/automatic); here its message reaches the box.
TEST_F(FormMainTest, TheSettingsCheckStopsAtTheFirstFailingStepWithItsMessage)
{
    const std::vector<CheckCase> cases = {
        {"blank database", " \t ", "u", "p", Outgoing, "1", "Databse non specificato"},
        {"letters in the interval", "d", "u", "p", Outgoing, "12a", "'12a' is not a valid integer value"},
    };
    TfrmMain& form = Create();
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Boxes.clear();
        Access::Database(form)->setText(c.Database);
        Access::Username(form)->setText(c.Username);
        Access::Password(form)->setText(c.Password);
        Access::Folder(form)->setText(c.Folder);
        Access::Interval(form)->setText(c.Interval);

        Access::ClickOk(form);

        EXPECT_EQ(Boxes, std::vector<QString>{c.Message});
        EXPECT_FALSE(Access::TrayShown(form));
        EXPECT_FALSE(Access::CheckEnabled(form));
        EXPECT_FALSE(QFile::exists(TfrmMain::ConfigFilePath()));
    }
}

TEST_F(FormMainTest, TheIntervalTextSetsTheCheckPeriod)
{
    struct Case
    {
        QString Text;
        int PeriodMs;
    };
    const std::vector<Case> cases = {{"120", 120000}, {"0x3C", 60000}, {"2147483", 2147483000}};
    TfrmMain& form = CreateFilledIn();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        Access::Interval(form)->setText(c.Text);
        Access::ClickOk(form);
        EXPECT_TRUE(Boxes.empty());
        EXPECT_EQ(Access::CheckPeriodMs(form), c.PeriodMs);
        EXPECT_TRUE(Access::CheckTicking(form));
    }
}

TEST_F(FormMainTest, OkAppliesTheTrimmedSettingsSavesThemAndEntersAutomaticMode)
{
    WriteConfig("[DLV]\r\nFirmType=professionisti\r\n");
    TfrmMain& form = CreateFilledIn();
    Access::ReceivedFolder(form)->setText(" /ricevute ");
    Access::AutomaticStart(form)->setChecked(true);
    WriteConfig("[DLV]\r\nFirmType=associazioni\r\n");

    Access::ClickOk(form);

    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Access::Client(form)->Username(), "mario.rossi@DEMO01");
    EXPECT_EQ(Access::Client(form)->Password(), "s3gr3ta");
    // The firm type is read again after the writes.
    EXPECT_EQ(Access::Client(form)->FirmType(), "associazioni");
    EXPECT_EQ(Access::OutgoingFolder(form), Outgoing);
    EXPECT_TRUE(QFileInfo(Outgoing + "/Inviate").isDir());
    EXPECT_TRUE(QFileInfo(Outgoing + "/Errori").isDir());

    const TConfigFile config(TfrmMain::ConfigFilePath());
    EXPECT_EQ(config.ReadString("DLV", "Database", "?"), "DEMO01");
    EXPECT_EQ(config.ReadString("DLV", "Username", "?"), "mario.rossi");
    EXPECT_EQ(config.ReadString("DLV", "Password", "?"), EncodePassword("s3gr3ta"));
    EXPECT_EQ(config.ReadString("DLV", "AutomaticMode", "?"), "1");
    EXPECT_EQ(config.ReadString("FE", "CartellaDaInviare", "?"), Outgoing);
    EXPECT_EQ(config.ReadString("FE", "CartellaRicevute", "?"), "/ricevute");
    EXPECT_EQ(config.ReadString("FE", "CheckIntervalSec", "?"), "120");

    EXPECT_TRUE(Access::TrayShown(form));
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(Access::CheckTicking(form));
}

TEST_F(FormMainTest, ANewConfigurationFileHasTheKeysInTheirSections)
{
    TfrmMain& form = CreateFilledIn();
    Access::ClickOk(form);
    EXPECT_EQ(ReadBytes(TfrmMain::ConfigFilePath()),
              "[DLV]\r\nDatabase=DEMO01\r\nUsername=mario.rossi\r\nPassword=" +
                  EncodePassword("s3gr3ta").toLatin1() + "\r\nAutomaticMode=0\r\n[FE]\r\nCartellaDaInviare=" +
                  QFile::encodeName(Outgoing) + "\r\nCartellaRicevute=\r\nCheckIntervalSec=120\r\n");
}

TEST_F(FormMainTest, AConfigurationThatCannotBeWrittenStopsOkAfterTheSettingsWereApplied)
{
    TfrmMain& form = CreateFilledIn();
    QDir().mkpath(TfrmMain::ConfigFilePath());

    Access::ClickOk(form);

    EXPECT_EQ(Boxes, std::vector<QString>{"Unable to write to " + TfrmMain::ConfigFilePath()});
    EXPECT_EQ(Access::Client(form)->Username(), "mario.rossi@DEMO01");
    EXPECT_EQ(Access::CheckPeriodMs(form), 120000);
    EXPECT_FALSE(Access::TrayShown(form));
    EXPECT_FALSE(Access::CheckEnabled(form));
}

TEST_F(FormMainTest, TheHookShowsABoxOnlyWhileTheTrayIconIsHidden)
{
    WriteConfig("[Level]\r\nLevel=error\r\n");
    TfrmMain& form = CreateFilledIn();

    form.apeVORNException(std::make_exception_ptr(EVornError("configurazione")));
    Access::ClickOk(form);
    form.apeVORNException(std::make_exception_ptr(EVornError("automatica")));
    form.apeVORNException(std::make_exception_ptr(std::runtime_error("other kind")));

    EXPECT_EQ(Boxes, std::vector<QString>{"configurazione"});
    const std::vector<QString> log = LogMessages();
    EXPECT_EQ(std::vector<QString>(log.end() - 3, log.end()),
              (std::vector<QString>{"configurazione", "automatica", "other kind"}));
}

// An exception that escapes the handling of any event reaches the hook through the application.
TEST_F(FormMainTest, WhatEscapesAnEventHandlerReachesTheHook)
{
    class Thrower : public QObject
    {
    public:
        bool event(QEvent* e) override
        {
            if (e->type() == QEvent::User)
                throw EVornError("dal gestore");
            return QObject::event(e);
        }
    };
    ASSERT_NE(TVornApplication::Instance(), nullptr);
    Create();
    Thrower thrower;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &event);
    EXPECT_EQ(Boxes, std::vector<QString>{"dal gestore"});
}

// Status-notifier hosts (KDE Plasma, GNOME's extension) report a click as Trigger only, so a
// double-click alone would never bring the window back there; the XEmbed tray sends both.
TEST_F(FormMainTest, AClickOrADoubleClickOnTheTrayIconLeavesAutomaticModeOnce)
{
    using Reasons = std::vector<QSystemTrayIcon::ActivationReason>;
    const struct
    {
        const char* Name;
        Reasons Activations;
        bool Restores;
    } cases[] = {
        {"a click on a status-notifier host", {QSystemTrayIcon::Trigger}, true},
        {"a double-click", {QSystemTrayIcon::DoubleClick}, true},
        {"a double-click on the XEmbed tray", {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}, true},
        {"the context menu's click", {QSystemTrayIcon::Context}, false},
        {"a middle click", {QSystemTrayIcon::MiddleClick}, false},
    };
    WriteConfig("[Level]\r\nLevel=normal\r\n");
    TfrmMain& form = CreateFilledIn();
    const auto left = [] {
        const std::vector<QString> log = LogMessages();
        return std::count(log.begin(), log.end(), QString("Modalità automatica disattivata"));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Access::ClickOk(form);
        ASSERT_TRUE(Access::TrayShown(form));
        const auto leftBefore = left();

        for (const QSystemTrayIcon::ActivationReason reason : c.Activations)
            Access::ActivateTray(form, reason);

        EXPECT_EQ(Access::TrayShown(form), !c.Restores);
        EXPECT_EQ(Access::CheckEnabled(form), !c.Restores);
        EXPECT_EQ(Access::CheckTicking(form), !c.Restores);
        EXPECT_EQ(form.isVisible(), c.Restores);
        EXPECT_EQ(left() - leftBefore, c.Restores ? 1 : 0);
    }
}

// Where no tray can show the icon (the offscreen platform has none), a hidden window could never be
// brought back: it stays on the taskbar, minimised, and the user's return to it leaves automatic mode.
TEST_F(FormMainTest, WithoutATrayTheMinimisedWindowIsTheWayBack)
{
    TfrmMain::SetSystemTrayAvailableForTesting(std::nullopt);
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    WriteConfig("[Level]\r\nLevel=normal\r\n");
    TfrmMain& form = CreateFilledIn();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    Access::ClickOk(form);
    QCoreApplication::processEvents();

    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isMinimized());
    EXPECT_TRUE(Access::TrayShown(form));
    EXPECT_TRUE(Access::CheckTicking(form));
    EXPECT_TRUE(ReadBytes(TfrmMain::LogFilePath()).contains("]    - Modalit\xE0 automatica attivata\r\n["))
        << "logged before the warning";
    EXPECT_TRUE(ReadBytes(TfrmMain::LogFilePath()).contains("] WRN- Area di notifica non disponibile"));

    // The user works in another window for a while, then comes back to this one.
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(Access::TrayShown(form)) << "leaving the window is no return to it";
    form.showNormal();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    EXPECT_FALSE(Access::TrayShown(form));
    EXPECT_FALSE(Access::CheckEnabled(form));
    EXPECT_FALSE(Access::CheckTicking(form));
    EXPECT_EQ(LogMessages().back(), "Modalità automatica disattivata");
}

} // namespace
