#pragma once

#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <exception>
#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;
class TDVBackendService;

// The program's only window. In configuring mode it is shown and nothing is sent; in automatic mode
// it is hidden, the tray icon is shown and the check timer runs the dispatch cycle.
class TfrmMain : public QWidget
{
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // The exception hook: every failure that escapes an event handler. Logged at error level, and
    // shown in a message box unless automatic mode shows the tray icon.
    void apeVORNException(std::exception_ptr failure);

    static QString ConfigFilePath();
    static QString LogFilePath();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend struct TfrmMainTestAccess;

    void FormCreate();
    void FormDestroy();
    void LoadSettings();

    void btnOkClick();
    void tyiVORNDblClick();
    void tmrFECheckTimer();
    void tmrAutomaticModeTimer();

    void EnterAutomaticMode();
    void LeaveAutomaticMode();
    void CheckAndApplySettings();
    void ProcessOutgoingInvoices();
    void ProcessReceivedInvoices();

    // The check timer as the system means it: "enabled" with a period of 0 gives no ticks at all,
    // while a running QTimer of period 0 would fire continuously.
    void EnableCheckTimer();
    void DisableCheckTimer();
    void SetCheckPeriod(int ms);

    // Creates the controls and lays them out on the window (Form_MainLayout.cpp).
    void CreateControls();

    // Runs an event handler; what it throws goes to the exception hook.
    template <class Handler> void Guarded(Handler handler);

    // Controls, owned by the window.
    QLineEdit* edtDatabase = nullptr;
    QLineEdit* edtUsername = nullptr;
    QLineEdit* edtPassword = nullptr;
    QLineEdit* edtIntervalloSec = nullptr;
    QLineEdit* edtFECartellaDaInviare = nullptr;
    QLineEdit* edtFECartellaRicevute = nullptr;
    QCheckBox* chkEseguiInAvvio = nullptr;
    QPushButton* btnOk = nullptr;

    QSystemTrayIcon tyiVORN;
    QTimer tmrFECheck;
    QTimer tmrAutomaticMode;

    std::unique_ptr<QStringList> FXmlMask;
    std::unique_ptr<TDVBackendService> FDVClient;
    QString FFECartellaDaInviare;
    QString FFECartellaRicevute;

    int FCheckPeriodMs = 0;
    bool FCheckEnabled = false;
    // Our own record of automatic mode's tray icon: without a system tray (offscreen)
    // QSystemTrayIcon::isVisible() stays false, and the hook must still keep its boxes away.
    bool FTrayVisible = false;
    bool FTickRunning = false;
};
