#pragma once

// The window's controls and state as the GUI tests reach them: the one friend of TfrmMain.

#include "app/Form_Main.h"
#include "app/NumericLineEdit.h"
#include "automatic/AutomaticEngine.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

struct TfrmMainTestAccess
{
    static QLineEdit* Database(TfrmMain& f) { return f.edtDatabase; }
    static QLineEdit* Username(TfrmMain& f) { return f.edtUsername; }
    static QLineEdit* Password(TfrmMain& f) { return f.edtPassword; }
    static TNumericLineEdit* Interval(TfrmMain& f) { return f.edtIntervalloSec; }
    static QLineEdit* Folder(TfrmMain& f) { return f.edtFECartellaDaInviare; }
    static QLineEdit* ReceivedFolder(TfrmMain& f) { return f.edtFECartellaRicevute; }
    static QCheckBox* AutomaticStart(TfrmMain& f) { return f.chkEseguiInAvvio; }
    static QPushButton* Ok(TfrmMain& f) { return f.btnOk; }
    static void ClickOk(TfrmMain& f) { f.btnOk->click(); }
    static QLabel* Link(TfrmMain& f) { return f.lklVORN; }
    static QLabel* Label6(TfrmMain& f) { return f.Label6; }
    static QToolButton* FolderButton(TfrmMain& f) { return f.btDaInviare; }
    static QToolButton* ReceivedFolderButton(TfrmMain& f) { return f.btnRicevute; }
    static QFrame* Shape1(TfrmMain& f) { return f.Shape1; }
    static QFrame* Shape2(TfrmMain& f) { return f.Shape2; }

    static void ActivateTray(TfrmMain& f, QSystemTrayIcon::ActivationReason reason)
    {
        emit f.tyiVORN.activated(reason);
    }
    static void DoubleClickTray(TfrmMain& f) { ActivateTray(f, QSystemTrayIcon::DoubleClick); }
    static bool TrayShown(const TfrmMain& f) { return f.FTrayVisible; }
    static bool CheckEnabled(const TfrmMain& f) { return f.FEngine->Enabled(); }
    static bool CheckTicking(const TfrmMain& f) { return f.FEngine->Ticking(); }
    static int CheckPeriodMs(const TfrmMain& f) { return f.FEngine->PeriodMs(); }
    static int CheckRemainingMs(const TfrmMain& f) { return f.FEngine->RemainingMs(); }
    static bool AutomaticStartArmed(const TfrmMain& f) { return f.tmrAutomaticMode.isActive(); }
    static const TDVBackendService* Client(const TfrmMain& f) { return f.FDVClient.get(); }
    static const QStringList* XmlMask(const TfrmMain& f) { return f.FEngine ? &TAutomaticEngine::XmlMask() : nullptr; }
    static QString OutgoingFolder(const TfrmMain& f) { return f.FEngine->Settings().CartellaDaInviare; }
};
using Access = TfrmMainTestAccess;
