#pragma once


#include <QRect>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class INumericBox;
class TDVBackendService;
class TNumericLineEdit;
class TAutomaticEngine;
class TWindowNotices;
struct TNotice;

// The program's only window. In configuring mode it is shown and nothing is sent; in automatic mode
// it is hidden, the tray icon is shown and the automatic engine's check timer runs the passes, whose
// news the window shows as desktop notices.
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

    // The window's files: the settings module's names in the working directory.
    static QString ConfigFilePath();
    static QString LogFilePath();

    // The base address of the web application, fixed by the build; a database's page is this address
    // and its name.
    static const QString WebAppBaseAddress;

    // Seams for tests: how an address is opened and how a folder is chosen (empty: cancelled).
    using TOpenAddress = std::function<void(const QString& address)>;
    using TChooseFolder =
        std::function<QString(QWidget* parent, const QString& instruction, const QString& startFolder)>;
    static void SetOpenAddressForTesting(TOpenAddress open);
    static void SetChooseFolderForTesting(TChooseFolder choose);
    // The decimal separator that the interval box filters with; null: the user's regional one.
    static void SetDecimalSeparatorForTesting(QChar separator);
    // Whether the desktop has a tray for the icon; empty: as Qt finds it.
    static void SetSystemTrayAvailableForTesting(std::optional<bool> available);
    // Desktop notifications go here instead of through the tray icon; empty: through the icon.
    using TNoticeObserver = std::function<void(const QString& title, const QString& text)>;
    static void SetNoticeObserverForTesting(TNoticeObserver observer);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

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
    // A desktop notification through the tray icon (freedesktop notifications on current desktops).
    void ShowNotice(const TNotice& notice);

    // Creates the controls and lays them out on the window (Form_MainLayout.cpp).
    void CreateControls();
    // Places every control for the window's current size, following its anchors.
    void ApplyLayout();

    void edtDatabaseChange();
    void lklVORNLinkClick(const QString& Link);
    void btDaInviareClick();
    void btnRicevuteClick();
    void edtIntervalloSecKeyPress(INumericBox& Sender, QChar& Key);
    void ChooseFolderInto(QLineEdit* box, const QString& instruction);

    // Runs an event handler; what it throws goes to the exception hook.
    template <class Handler> void Guarded(Handler handler);

    // Controls, owned by the window.
    QLineEdit* edtDatabase = nullptr;
    QLineEdit* edtUsername = nullptr;
    QLineEdit* edtPassword = nullptr;
    TNumericLineEdit* edtIntervalloSec = nullptr;
    QLineEdit* edtFECartellaDaInviare = nullptr;
    QLineEdit* edtFECartellaRicevute = nullptr;
    QCheckBox* chkEseguiInAvvio = nullptr;
    QPushButton* btnOk = nullptr;
    QFrame* Shape1 = nullptr;
    QFrame* Shape2 = nullptr;
    QLabel* Label6 = nullptr;
    QToolButton* btDaInviare = nullptr;
    QToolButton* btnRicevute = nullptr;
    QLabel* lklVORN = nullptr;
    // How a control follows a resize of the window (the original's anchors), and whether a label
    // widens to its text when the fallback font is wider than the designed one.
    enum TAnchor : unsigned
    {
        Fixed = 0,
        FollowsRight = 1,    // keeps its distance from the right edge
        StretchesWidth = 2,  // keeps its distance from both side edges
        StretchesHeight = 4, // keeps its distance from the top and the bottom edge
        GrowsWithText = 8,   // never narrower than its text
    };
    // Each control with its place on the window at 96 dpi and its size, and how it follows a resize.
    struct TPlacement
    {
        QWidget* Control;
        QRect Bounds; // at the designed client size of 574 x 287
        unsigned Anchors;
    };
    std::vector<TPlacement> FPlacements;

    QSystemTrayIcon tyiVORN;
    QTimer tmrAutomaticMode;

    std::unique_ptr<TDVBackendService> FDVClient;
    // The check timer and the passes, with the folders and the period last applied.
    std::unique_ptr<TWindowNotices> FNotices;
    std::unique_ptr<TAutomaticEngine> FEngine;

    // Our own record of automatic mode's tray icon: without a system tray (offscreen)
    // QSystemTrayIcon::isVisible() stays false, and the hook must still keep its boxes away.
    bool FTrayVisible = false;
    // Automatic mode entered where no tray can show the icon: the window stays minimised instead of
    // hidden, and bringing it back to the front leaves automatic mode as a click on the icon would.
    bool FWithoutTray = false;
};
