// The window's controls and their arrangement, kept apart from its behaviour in Form_Main.cpp.

#include "Form_Main.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

void TfrmMain::CreateControls()
{
    edtDatabase = new QLineEdit(this);
    edtUsername = new QLineEdit(this);
    edtPassword = new QLineEdit(this);
    edtPassword->setEchoMode(QLineEdit::Password);
    edtIntervalloSec = new QLineEdit(this);
    edtFECartellaDaInviare = new QLineEdit(this);
    edtFECartellaRicevute = new QLineEdit(this);
    edtFECartellaRicevute->hide();
    chkEseguiInAvvio = new QCheckBox(this);
    btnOk = new QPushButton(QStringLiteral("OK"), this);

    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Database:"), edtDatabase);
    layout->addRow(QStringLiteral("Username:"), edtUsername);
    layout->addRow(QStringLiteral("Password:"), edtPassword);
    layout->addRow(QStringLiteral("Intervallo (sec):"), edtIntervalloSec);
    layout->addRow(QStringLiteral("Cartella fatture da inviare:"), edtFECartellaDaInviare);
    layout->addRow(QStringLiteral("Attiva modalità automatica all'avvio:"), chkEseguiInAvvio);
    layout->addRow(btnOk);
    resize(574, 287);
}
