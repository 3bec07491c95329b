// What automatic mode says on the desktop, in process (offscreen) against the substitute backend
// on the build's service port: a refused invoice by its name and the backend's text, a run of
// failed passes at its start and when the backend answers again. That each is said once, never at
// every tick, is the engine's rule (tests/automatic).

#include "app/Form_Main.h"
#include "log/LogFile.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Files.h"
#include "tests/support/FormAccess.h"
#include "tests/support/Substitute.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The failures the exception hook logged so far: one per failed pass.
int LoggedFailures()
{
    QFile log(TfrmMain::LogFilePath());
    return log.open(QIODevice::ReadOnly) ? int(log.readAll().count("] ERR- ")) : 0;
}

class DesktopNoticeTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString reason = EndToEndSkipReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        FPreviousDir = QDir::currentPath();
        QDir::setCurrent(FDir.path());
        Outgoing = FDir.filePath(QStringLiteral("da inviare"));
        ASSERT_TRUE(QDir().mkpath(Outgoing));
        TfrmMain::SetSystemTrayAvailableForTesting(true);
        TfrmMain::SetNoticeObserverForTesting([this](const QString& title, const QString& text) {
            Notices.push_back((title + QStringLiteral(" | ") + text).toStdString());
        });
        StartBackend();
    }

    void TearDown() override
    {
        Form.reset();
        Backend.reset();
        TfrmMain::SetNoticeObserverForTesting({});
        TfrmMain::SetSystemTrayAvailableForTesting(std::nullopt);
        if (!FPreviousDir.isEmpty())
            QDir::setCurrent(FPreviousDir);
    }

    void StartBackend()
    {
        Backend = std::make_unique<substitute::Backend>(SubstituteOptions(EndToEndPki(), EndToEndPort()));
    }

    QTemporaryDir FDir;
    QString FPreviousDir;
    QString Outgoing;
    std::unique_ptr<substitute::Backend> Backend;
    std::unique_ptr<TfrmMain> Form;
    std::vector<std::string> Notices;
};

TEST_F(DesktopNoticeTest, ARefusalAndEachRunOfFailuresAreToldOnce)
{
    WriteBytes(Outgoing + QStringLiteral("/IT01234567890_00002.xml"), "<FatturaElettronica>");
    Form = std::make_unique<TfrmMain>();
    ASSERT_TRUE(AppLog);
    AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
    Access::Database(*Form)->setText(kTestDatabase);
    Access::Username(*Form)->setText(kTestUser);
    Access::Password(*Form)->setText(kTestPassword);
    Access::Folder(*Form)->setText(Outgoing);
    Access::Interval(*Form)->setText(QStringLiteral("1"));
    Access::ClickOk(*Form);

    ASSERT_TRUE(RunEventsUntil([&] { return !Notices.empty(); }, 30000));
    ASSERT_EQ(Notices.size(), 1u);
    EXPECT_EQ(Notices[0].rfind("Fattura rifiutata | IT01234567890_00002.xml\nIl file IT01234567890_00002.xml "
                               "non è un XML ben formato",
                               0),
              0u)
        << Notices[0];

    // The backend goes away while an invoice waits: two failed passes, one word.
    Backend.reset();
    WriteBytes(Outgoing + QStringLiteral("/IT01234567890_00003.xml"), "<FatturaElettronica/>");
    ASSERT_TRUE(RunEventsUntil([&] { return LoggedFailures() >= 2; }, 30000));
    ASSERT_EQ(Notices.size(), 2u);
    EXPECT_EQ(Notices[1].rfind("Invio fatture interrotto | ", 0), 0u) << Notices[1];
    EXPECT_NE(Notices[1].find("\nNuovo tentativo a ogni controllo."), std::string::npos) << Notices[1];

    // Back again: the waiting invoice goes, and that is said once.
    StartBackend();
    ASSERT_TRUE(RunEventsUntil([&] { return Notices.size() >= 3; }, 30000));
    EXPECT_EQ(Notices[2],
              "Invio fatture ripreso | Il servizio risponde di nuovo: le fatture vengono inviate.");
    EXPECT_TRUE(QFile::exists(Outgoing + QStringLiteral("/Inviate/IT01234567890_00003_1.xml")));
}

} // namespace
