#include "app/Form_Main.h"

#include "app/AppIcon.h"
#include "app/MessageBox.h"
#include "app/NumericLineEdit.h"
#include "app/VornApplication.h"
#include "app/WindowNotices.h"
#include "automatic/AutomaticEngine.h"
#include "automatic/Notices.h"
#include "backend/DVBackendService.h"
#include "config/ConfigFile.h"
#include "config/Settings.h"
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
    // Made before the settings are loaded: a loading failure must not leave OK without its passes.
    FNotices = std::make_unique<TWindowNotices>([this](const TNotice& notice) { ShowNotice(notice); });
    TAutomaticEngine::THooks hooks;
    hooks.Failed = [this](std::exception_ptr failure) { apeVORNException(failure); };
    hooks.Wait = WaitPumping;
    hooks.StopRequested = ProcessStopRequested;
    hooks.TickDue = [this] { Guarded([this] { tmrFECheckTimer(); }); };
    FEngine = std::make_unique<TAutomaticEngine>(*FDVClient, *FNotices, std::move(hooks));

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
    tmrAutomaticMode.stop();
    FEngine.reset();
    FNotices.reset();
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

void TfrmMain::ShowNotice(const TNotice& notice)
{
    if (NoticeObserver()) {
        NoticeObserver()(notice.Title, notice.Text);
        return;
    }
    const QSystemTrayIcon::MessageIcon icon = notice.Kind == TNotice::TKind::Critical ? QSystemTrayIcon::Critical
                                              : notice.Kind == TNotice::TKind::Warning
                                                  ? QSystemTrayIcon::Warning
                                                  : QSystemTrayIcon::Information;
    tyiVORN.showMessage(notice.Title, notice.Text, icon, kNoticeMs);
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
    if (FEngine)
        FEngine->Tick();
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
    if (FEngine)
        FEngine->Start();
    Log(QStringLiteral("Modalità automatica attivata"));
    if (FWithoutTray)
        LogWarning(QStringLiteral("Area di notifica non disponibile: la finestra resta ridotta a icona, "
                                  "riaprirla disattiva la modalità automatica"));
}

void TfrmMain::LeaveAutomaticMode()
{
    if (FEngine)
        FEngine->Stop();
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
    if (!FEngine)
        return;
    TSettingsTexts texts;
    texts.Database = edtDatabase->text();
    texts.Username = edtUsername->text();
    texts.Password = edtPassword->text();
    texts.CartellaDaInviare = edtFECartellaDaInviare->text();
    texts.CartellaRicevute = edtFECartellaRicevute->text();
    texts.CheckIntervalSec = edtIntervalloSec->text();
    // Read from the file at start-up and at each OK, not typed.
    texts.FirmType = FDVClient->FirmType();
    FEngine->Apply(CheckAutomaticSettings(texts));
}

void TfrmMain::ProcessOutgoingInvoices()
{
    if (FEngine)
        FEngine->ProcessOutgoingInvoices();
}

void TfrmMain::ProcessReceivedInvoices()
{
    if (FEngine)
        FEngine->ProcessReceivedInvoices();
}
