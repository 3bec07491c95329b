#include "app/Form_Main.h"

#include "app/AppIcon.h"
#include "app/MessageBox.h"
#include "app/NumericLineEdit.h"
#include "app/VornApplication.h"
#include "backend/DVBackendService.h"
#include "config/ConfigFile.h"
#include "config/Settings.h"
#include "dispatch/OutgoingDispatch.h"
#include "log/LogFile.h"
#include "util/Errors.h"
#include "util/EventWait.h"
#include "util/Folders.h"
#include "util/StopRequest.h"
#include "util/Text.h"
#include "util/VersionInfo.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStringList>
#include <QToolButton>
#include <QUrl>

#include <cerrno>
#include <sys/stat.h>

// A build setting beside the backend's domain (CMake's VORN_WEBAPP_ADDRESS).
const QString TfrmMain::WebAppBaseAddress = QStringLiteral(VORN_WEBAPP_ADDRESS);

namespace {

TfrmMain::TOpenAddress& OpenAddress()
{
    static TfrmMain::TOpenAddress open = [](const QString& address) {
        // The desktop's answer is not checked: a browser that cannot start shows nothing here.
        QDesktopServices::openUrl(QUrl(address));
    };
    return open;
}

// Qt's own dialog, which can leave out the path box and the new-folder button. Read-only: folders
// are chosen here, not created, renamed or deleted. Without a start folder it opens at the root.
QString ChooseFolderWithDialog(QWidget* parent, const QString& instruction, const QString& startFolder)
{
    QFileDialog dialog(parent, instruction, startFolder.isEmpty() ? QDir::rootPath() : startFolder);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly |
                      QFileDialog::DontResolveSymlinks | QFileDialog::ReadOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setLabelText(QFileDialog::LookIn, instruction);
    for (const char* name :
         {"newFolderButton", "fileNameEdit", "fileNameLabel", "fileTypeCombo", "fileTypeLabel"})
        if (QWidget* child = dialog.findChild<QWidget*>(QLatin1String(name)))
            child->hide();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

TfrmMain::TChooseFolder& ChooseFolder()
{
    static TfrmMain::TChooseFolder choose = ChooseFolderWithDialog;
    return choose;
}

QChar& DecimalSeparatorOverride()
{
    static QChar separator;
    return separator;
}

std::optional<bool>& SystemTrayOverride()
{
    static std::optional<bool> available;
    return available;
}

bool SystemTrayAvailable()
{
    return SystemTrayOverride().value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

TfrmMain::TNoticeObserver& NoticeObserver()
{
    static TfrmMain::TNoticeObserver observer;
    return observer;
}

// The interval box takes whole seconds, at most 9999 of them by typing.
constexpr qint32 kIntervalDecimals = 0;
constexpr qint32 kIntervalIntDigits = 4;

const QString kCaption = QStringLiteral("VORN Automatic");
const QString kBalloonTitle = QStringLiteral("Ripristina l'applicazione.");
const QString kBalloonText =
    QStringLiteral("Doppio click sulla system tray icon per ripristinare l'applicazione.");
constexpr int kAutomaticStartDelayMs = 2000;

// What automatic mode says on the desktop besides its balloon.
const QString kRefusedTitle = QStringLiteral("Fattura rifiutata");
const QString kFailingTitle = QStringLiteral("Invio fatture interrotto");
const QString kFailingHint = QStringLiteral("Nuovo tentativo a ogni controllo.");
const QString kWorkingAgainTitle = QStringLiteral("Invio fatture ripreso");
const QString kWorkingAgainText =
    QStringLiteral("Il servizio risponde di nuovo: le fatture vengono inviate.");
// Long enough to be read; the desktop may keep it longer, or in its list of notifications.
constexpr int kNoticeMs = 15000;

void Log(const QString& message)
{
    if (AppLog)
        AppLog->WriteLog(message);
}

void LogWarning(const QString& message)
{
    if (AppLog)
        AppLog->WriteLogWrn(message);
}

// Writing a box runs its change handler; writing the text it already holds is no change.
void SetBoxText(QLineEdit* box, const QString& text)
{
    if (box->text() != text)
        box->setText(text);
}

} // namespace

template <class Handler> void TfrmMain::Guarded(Handler handler)
{
    try {
        handler();
    } catch (...) {
        apeVORNException(std::current_exception());
    }
}

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent), tyiVORN(this)
{
    setWindowTitle(kCaption);
    setWindowIcon(ApplicationIcon());
    CreateControls();
    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    connect(edtDatabase, &QLineEdit::textChanged, this, [this] { Guarded([this] { edtDatabaseChange(); }); });
    connect(lklVORN, &QLabel::linkActivated, this,
            [this](const QString& link) { Guarded([this, link] { lklVORNLinkClick(link); }); });
    connect(btDaInviare, &QToolButton::clicked, this, [this] { Guarded([this] { btDaInviareClick(); }); });
    connect(btnRicevute, &QToolButton::clicked, this, [this] { Guarded([this] { btnRicevuteClick(); }); });
    edtIntervalloSec->SetOnKeyPress(
        [this](INumericBox& sender, QChar& key) { Guarded([&] { edtIntervalloSecKeyPress(sender, key); }); });

    tyiVORN.setIcon(ApplicationIcon());
    connect(&tyiVORN, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Status-notifier hosts (most current desktops) report a click as Trigger and never as
        // DoubleClick; the XEmbed tray reports a double-click as Trigger and then DoubleClick. Either
        // brings the window back, once: the second finds automatic mode left already.
        const bool restores = reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick;
        if (restores && FTrayVisible)
            Guarded([this] { tyiVORNDblClick(); });
    });
    connect(&tmrFECheck, &QTimer::timeout, this, [this] { Guarded([this] { tmrFECheckTimer(); }); });
    tmrAutomaticMode.setSingleShot(true);
    tmrAutomaticMode.setInterval(kAutomaticStartDelayMs);
    connect(&tmrAutomaticMode, &QTimer::timeout, this,
            [this] { Guarded([this] { tmrAutomaticModeTimer(); }); });

    // apeVORN: what escapes the handling of any other event reaches the same hook.
    if (TVornApplication* application = TVornApplication::Instance())
        application->SetExceptionHandler([this](std::exception_ptr failure) { apeVORNException(failure); });

    Guarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
    if (TVornApplication* application = TVornApplication::Instance())
        application->SetExceptionHandler({});
}

QString TfrmMain::ConfigFilePath()
{
    return ::ConfigFilePath();
}

QString TfrmMain::LogFilePath()
{
    return ::LogFilePath();
}

void TfrmMain::apeVORNException(std::exception_ptr failure)
{
    const QString message = ExceptionMessage(failure);
    // Without a log (it could not be created) or with one that fails, the box is all there is.
    if (AppLog) {
        try {
            AppLog->WriteLogErr(message);
        } catch (...) {
        }
    }
    if (!FTrayVisible)
        VornMessageBox::ShowError(this, message);
}

void TfrmMain::FormCreate()
{
    try {
        AppLog = std::make_unique<TLogFile>(LogFilePath());
        AppLog->Init(ConfigFilePath());
    } catch (...) {
        // The program works without its log; the user is told once why nothing will be logged.
        apeVORNException(std::current_exception());
    }

    setWindowTitle(windowTitle() + QStringLiteral(" (ver. ") +
                   GetFileVersions(QCoreApplication::applicationFilePath()).File + QLatin1Char(')'));
    tyiVORN.setToolTip(kCaption);
    FDVClient = std::make_unique<TDVBackendService>();
    // Built before the settings are loaded: a loading failure must not leave the cycle without it.
    FXmlMask = std::make_unique<QStringList>(QStringList{QStringLiteral(".xml"), QStringLiteral(".p7m")});

    Log(QStringLiteral("Caricamento configurazione"));
    LoadSettings();
    if (chkEseguiInAvvio->isChecked())
        tmrAutomaticMode.start();
}

void TfrmMain::LoadSettings()
{
    TConfigFile config(ConfigFilePath());
    FDVClient->SetFirmType(ReadSetting(config, TSetting::FirmType).toString());
    SetBoxText(edtDatabase, ReadSetting(config, TSetting::Database).toString());
    SetBoxText(edtUsername, ReadSetting(config, TSetting::Username).toString());
    SetBoxText(edtPassword, ReadSetting(config, TSetting::Password).toString());
    SetBoxText(edtFECartellaDaInviare, ReadSetting(config, TSetting::CartellaDaInviare).toString());
    SetBoxText(edtFECartellaRicevute, ReadSetting(config, TSetting::CartellaRicevute).toString());
    SetBoxText(edtIntervalloSec, QString::number(ReadSetting(config, TSetting::CheckIntervalSec).toInt()));
    chkEseguiInAvvio->setChecked(ReadSetting(config, TSetting::AutomaticMode).toBool());
    config.Close();
}

void TfrmMain::FormDestroy()
{
    tmrFECheck.stop();
    tmrAutomaticMode.stop();
    FXmlMask.reset();
    FDVClient.reset();
    AppLog.reset();
}

void TfrmMain::SetOpenAddressForTesting(TOpenAddress open)
{
    OpenAddress() = std::move(open);
}

void TfrmMain::SetChooseFolderForTesting(TChooseFolder choose)
{
    ChooseFolder() = choose ? std::move(choose) : TChooseFolder(ChooseFolderWithDialog);
}

void TfrmMain::SetDecimalSeparatorForTesting(QChar separator)
{
    DecimalSeparatorOverride() = separator;
}

void TfrmMain::SetSystemTrayAvailableForTesting(std::optional<bool> available)
{
    SystemTrayOverride() = available;
}

void TfrmMain::SetNoticeObserverForTesting(TNoticeObserver observer)
{
    NoticeObserver() = std::move(observer);
}

void TfrmMain::ShowNotice(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon)
{
    if (NoticeObserver())
        NoticeObserver()(title, text);
    else
        tyiVORN.showMessage(title, text, icon, kNoticeMs);
}

void TfrmMain::edtIntervalloSecKeyPress(INumericBox& Sender, QChar& Key)
{
    const QChar separator = DecimalSeparatorOverride();
    Key = separator.isNull()
              ? FilterNumericKey(&Sender, Key, kIntervalDecimals, kIntervalIntDigits)
              : FilterNumericKey(&Sender, Key, kIntervalDecimals, kIntervalIntDigits, separator);
}

void TfrmMain::edtDatabaseChange()
{
    const QString database = TrimControl(edtDatabase->text());
    if (database.isEmpty()) {
        lklVORN->setTextFormat(Qt::PlainText);
        lklVORN->setText(QStringLiteral("Link ad VORN non attivo, configurare campo \"Database\""));
        return;
    }
    lklVORN->setTextFormat(Qt::RichText);
    lklVORN->setText(QStringLiteral("<a href=\"") + WebAppBaseAddress + database +
                     QStringLiteral("\" target=\"_blank\">Apri VORN nel browser</a>"));
}

void TfrmMain::lklVORNLinkClick(const QString& Link)
{
    OpenAddress()(Link);
}

void TfrmMain::btDaInviareClick()
{
    ChooseFolderInto(edtFECartellaDaInviare, QStringLiteral("Selezione cartella fatture da inviare"));
}

void TfrmMain::btnRicevuteClick()
{
    ChooseFolderInto(edtFECartellaRicevute, QStringLiteral("Selezione cartella fatture ricevute"));
}

void TfrmMain::ChooseFolderInto(QLineEdit* box, const QString& instruction)
{
    const QString start = FolderExists(box->text()) ? box->text() : QString();
    const QString chosen = ChooseFolder()(this, instruction, start);
    if (!chosen.isEmpty())
        box->setText(chosen);
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    // The window is no dialog, so Qt gives it no default button: Enter without a modifier acts as
    // OK from every control, which pass the key on to the window. Escape closes nothing.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        event->accept();
        btnOk->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ApplyLayout();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The window's state is no sign of the user's return: Wayland reports a minimised window as
    // restored at once. Its becoming the active window is.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && FTrayVisible && FWithoutTray)
        Guarded([this] { LeaveAutomaticMode(); });
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // Closing the window ends the program, also from automatic mode where the window is hidden.
    RequestProcessStop();
    event->accept();
    QCoreApplication::quit();
}

void TfrmMain::btnOkClick()
{
    CheckAndApplySettings();
    {
        TConfigFile config(ConfigFilePath());
        WriteSetting(config, TSetting::Database, TrimControl(edtDatabase->text()));
        WriteSetting(config, TSetting::Username, TrimControl(edtUsername->text()));
        WriteSetting(config, TSetting::Password, TrimControl(edtPassword->text()));
        WriteSetting(config, TSetting::CartellaDaInviare, TrimControl(edtFECartellaDaInviare->text()));
        WriteSetting(config, TSetting::CartellaRicevute, TrimControl(edtFECartellaRicevute->text()));
        WriteSetting(config, TSetting::CheckIntervalSec, CheckIntervalSeconds(edtIntervalloSec->text()));
        WriteSetting(config, TSetting::AutomaticMode, chkEseguiInAvvio->isChecked());
        FDVClient->SetFirmType(CheckFirmType(ReadSetting(config, TSetting::FirmType).toString()));
        config.Close();
    }
    EnterAutomaticMode();
}

void TfrmMain::tyiVORNDblClick()
{
    LeaveAutomaticMode();
}

void TfrmMain::tmrAutomaticModeTimer()
{
    tmrAutomaticMode.stop();
    CheckAndApplySettings();
    EnterAutomaticMode();
}

void TfrmMain::tmrFECheckTimer()
{
    DisableCheckTimer();
    // Events run during the cycle's pause: a tick that fires then (automatic mode left and entered
    // again) leaves the work to the tick that is paused, which restarts the timer when it ends.
    if (FTickRunning)
        return;
    FTickRunning = true;
    const auto restart = qScopeGuard([this] {
        FTickRunning = false;
        // Automatic mode left during the pause: the checks stay stopped until it is entered again.
        if (FTrayVisible)
            EnableCheckTimer();
    });
    if (!FFECartellaDaInviare.isEmpty())
        ProcessOutgoingInvoices();
    if (!FFECartellaRicevute.isEmpty())
        ProcessReceivedInvoices();
}

void TfrmMain::EnterAutomaticMode()
{
    // Without a tray a hidden window could never be brought back.
    FWithoutTray = !SystemTrayAvailable();
    if (FWithoutTray) {
        showMinimized();
    } else {
        hide();
        setWindowState(Qt::WindowMinimized);
    }
    FTrayVisible = true;
    tyiVORN.show();
    tyiVORN.showMessage(kBalloonTitle, kBalloonText, QSystemTrayIcon::Information);
    EnableCheckTimer();
    Log(QStringLiteral("Modalità automatica attivata"));
    if (FWithoutTray)
        LogWarning(QStringLiteral("Area di notifica non disponibile: la finestra resta ridotta a icona, "
                                  "riaprirla disattiva la modalità automatica"));
}

void TfrmMain::LeaveAutomaticMode()
{
    DisableCheckTimer();
    Log(QStringLiteral("Modalità automatica disattivata"));
    FTrayVisible = false;
    tyiVORN.hide();
    show();
    setWindowState(Qt::WindowNoState);
    raise();
    activateWindow();
}

void TfrmMain::CheckAndApplySettings()
{
    const TBackendCredentials credentials =
        CheckCredentials(edtDatabase->text(), edtUsername->text(), edtPassword->text());

    // The folder checked, and given its sub-folders, is the trimmed one the cycle works on: here a
    // trailing blank names another folder, whose Inviate and Errori the cycle would never find.
    const QString folderText = TrimControl(edtFECartellaDaInviare->text());
    PrepareOutgoingFolder(folderText);

    if (FDVClient) {
        CheckFirmType(FDVClient->FirmType());
        FDVClient->SetUsername(credentials.Username);
        FDVClient->SetPassword(credentials.Password);
    }
    FFECartellaDaInviare = folderText;
    FFECartellaRicevute = TrimControl(edtFECartellaRicevute->text());
    SetCheckPeriod(CheckIntervalSeconds(edtIntervalloSec->text()) * 1000);
}

void TfrmMain::ProcessOutgoingInvoices()
{
    if (!FXmlMask || !FDVClient)
        return;
    TOutgoingDispatch dispatch(FFECartellaDaInviare, *FXmlMask, *FDVClient, WaitPumping, ProcessStopRequested);
    dispatch.SetInvoiceRefused([this](const QString& N, const QString& backendText) {
        ShowNotice(kRefusedTitle, N + u'\n' + backendText, QSystemTrayIcon::Warning);
    });
    int answered = 0;
    try {
        answered = dispatch.ProcessOutgoingInvoices();
    } catch (...) {
        // The hook still logs it; the desktop hears of the first failure of a run only.
        if (FCycleHealth.PassFailed() == TCycleHealth::TNotice::Failing)
            ShowNotice(kFailingTitle, ExceptionMessage(std::current_exception()) + u'\n' + kFailingHint,
                       QSystemTrayIcon::Critical);
        throw;
    }
    if (FCycleHealth.PassEnded(answered) == TCycleHealth::TNotice::WorkingAgain)
        ShowNotice(kWorkingAgainTitle, kWorkingAgainText, QSystemTrayIcon::Information);
}

void TfrmMain::ProcessReceivedInvoices() {}

void TfrmMain::EnableCheckTimer()
{
    if (FCheckEnabled)
        return;
    FCheckEnabled = true;
    if (FCheckPeriodMs > 0)
        tmrFECheck.start(FCheckPeriodMs);
}

void TfrmMain::DisableCheckTimer()
{
    FCheckEnabled = false;
    tmrFECheck.stop();
}

void TfrmMain::SetCheckPeriod(int ms)
{
    // Settings applied again with the same interval leave a running timer to its count; only a new
    // period restarts it.
    if (ms == FCheckPeriodMs)
        return;
    FCheckPeriodMs = ms;
    tmrFECheck.setInterval(ms);
    if (FCheckEnabled) {
        if (ms > 0)
            tmrFECheck.start(ms);
        else
            tmrFECheck.stop();
    }
}
