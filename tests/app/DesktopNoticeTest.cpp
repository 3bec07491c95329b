// What automatic mode says on the desktop, in process (offscreen) against the substitute backend
// on the build's service port: a refused invoice by its name and the backend's text, a run of
// failed passes once at its start and once when the backend answers again.

#include "app/Form_Main.h"
#include "app/NumericLineEdit.h"
#include "app/VornApplication.h"
#include "log/LogFile.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/EndToEnd.h"

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

struct TfrmMainTestAccess
{
    static void FillIn(TfrmMain& f, const QString& folder)
    {
        f.edtDatabase->setText(QStringLiteral("DEMO01"));
        f.edtUsername->setText(QStringLiteral("mario.rossi"));
        f.edtPassword->setText(QStringLiteral("s3gr3ta"));
        f.edtFECartellaDaInviare->setText(folder);
        f.edtIntervalloSec->setText(QStringLiteral("1"));
    }
    static void ClickOk(TfrmMain& f) { f.btnOk->click(); }
};
using Access = TfrmMainTestAccess;

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

void RunEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
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
        if (!EndToEndServiceDomain().startsWith(QStringLiteral("localhost:")))
            GTEST_SKIP() << "the window was built for " << EndToEndServiceDomain().toStdString()
                         << ", not the substitute backend";
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
        const TestPki pki = EndToEndPki();
        substitute::Options options;
        options.CertFile = pki.ServerCert.toStdString();
        options.KeyFile = pki.ServerKey.toStdString();
        options.Username = "mario.rossi@DEMO01";
        options.Password = "s3gr3ta";
        options.Port = EndToEndPort();
        Backend = std::make_unique<substitute::Backend>(options);
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
    Access::FillIn(*Form, Outgoing);
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
    // Nothing more to send: the passes that follow say nothing.
    const int failures = LoggedFailures();
    RunEventsFor(2500);
    EXPECT_EQ(Notices.size(), 3u);
    EXPECT_EQ(LoggedFailures(), failures);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TVornApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
