// The window's controls and their arrangement, kept apart from its behaviour in Form_Main.cpp.

#include "Form_Main.h"

#include "AppIcon.h"
#include "NumericLineEdit.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QToolButton>

namespace {

constexpr QSize kDesignedClientSize(574, 287);

// Every typed character of the password box shows as "*".
class TAsteriskPasswordStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Tahoma 8 pt where the machine has it; otherwise the closest sans-serif of the same size.
QFont WindowFont()
{
    const QString family = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                               ? QStringLiteral("Tahoma")
                               : QStringLiteral("DejaVu Sans");
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QFrame* Band(QWidget* parent, QColor colour)
{
    auto* band = new QFrame(parent);
    band->setFrameShape(QFrame::NoFrame);
    band->setAutoFillBackground(true);
    QPalette palette = band->palette();
    palette.setColor(QPalette::Window, colour);
    band->setPalette(palette);
    return band;
}

QLabel* Label(QWidget* parent, const QString& text, bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

QToolButton* FolderButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(OpenFolderIcon());
    button->setIconSize(QSize(16, 16));
    return button;
}

} // namespace

void TfrmMain::CreateControls()
{
    setFont(WindowFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    // Laid in this order: later controls lie on top of earlier ones.
    Shape1 = Band(this, QColor(202, 223, 247));
    Shape2 = Band(this, QColor(252, 253, 225));
    QLabel* Label1 = Label(this, QStringLiteral("Database:"));
    QLabel* Label2 = Label(this, QStringLiteral("Username:"));
    QLabel* Label3 = Label(this, QStringLiteral("Password:"));
    QLabel* Label4 = Label(this, QStringLiteral("Intervallo (sec):"));
    QLabel* Label5 = Label(this, QStringLiteral("Cartella fatture da inviare:"));
    Label6 = Label(this, QStringLiteral("Cartella fatture ricevute:"));
    QLabel* Label7 = Label(this, QStringLiteral("Dalvena - Credenziali VORN"), true);
    QLabel* Label8 = Label(this, QStringLiteral("Fatture Elettroniche"), true);
    btDaInviare = FolderButton(this);
    btnRicevute = FolderButton(this);
    QLabel* Label9 = Label(this, QStringLiteral("Attiva modalità automatica all'avvio:"));
    edtDatabase = new QLineEdit(this);
    edtUsername = new QLineEdit(this);
    edtPassword = new QLineEdit(this);
    edtPassword->setEchoMode(QLineEdit::Password);
    // Created after the box and owned by the window, so it outlives the box that uses it.
    auto* passwordStyle = new TAsteriskPasswordStyle;
    passwordStyle->setParent(this);
    edtPassword->setStyle(passwordStyle);
    edtFECartellaDaInviare = new QLineEdit(this);
    edtFECartellaRicevute = new QLineEdit(this);
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setIcon(CheckMarkIcon());
    btnOk->setDefault(true);
    chkEseguiInAvvio = new QCheckBox(this);
    edtIntervalloSec = new TNumericLineEdit(0, 4, this);

    lklVORN = new QLabel(QStringLiteral("Apri VORN nel browser"), this);
    lklVORN->setTextFormat(Qt::PlainText);
    lklVORN->setFocusPolicy(Qt::NoFocus);
    lklVORN->setOpenExternalLinks(false);
    lklVORN->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    {
        QPalette palette = lklVORN->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
        palette.setColor(QPalette::Link, palette.color(QPalette::Highlight));
        lklVORN->setPalette(palette);
        QFont font = lklVORN->font();
        font.setUnderline(true);
        lklVORN->setFont(font);
    }

    // The received-invoices folder is kept in the settings, but nothing shows it.
    for (QWidget* hidden : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(edtFECartellaRicevute),
                            static_cast<QWidget*>(btnRicevute)})
        hidden->setVisible(false);

    setTabOrder(edtDatabase, edtUsername);
    setTabOrder(edtUsername, edtPassword);
    setTabOrder(edtPassword, edtIntervalloSec);
    setTabOrder(edtIntervalloSec, edtFECartellaDaInviare);
    setTabOrder(edtFECartellaDaInviare, edtFECartellaRicevute);
    setTabOrder(edtFECartellaRicevute, btnOk);
    setTabOrder(btnOk, chkEseguiInAvvio);

    //            control                  left, top, width, height       right  width  height
    FPlacements = {
        {Shape1, QRect(0, 0, 575, 121), false, true, false},
        {Shape2, QRect(0, 122, 575, 167), false, true, true},
        {Label1, QRect(24, 35, 50, 13), false, false, false},
        {Label2, QRect(24, 62, 52, 13), false, false, false},
        {Label3, QRect(24, 89, 50, 13), false, false, false},
        {Label4, QRect(24, 150, 77, 13), false, false, false},
        {Label5, QRect(24, 177, 128, 13), false, false, false},
        {Label6, QRect(24, 203, 120, 13), false, false, false},
        {Label7, QRect(17, 8, 164, 13), false, false, false},
        {Label8, QRect(17, 127, 113, 13), false, false, false},
        {btDaInviare, QRect(537, 169, 25, 25), true, false, false},
        {btnRicevute, QRect(537, 196, 25, 25), true, false, false},
        {Label9, QRect(17, 245, 173, 13), false, false, false},
        {edtDatabase, QRect(88, 32, 157, 21), false, false, false},
        {edtUsername, QRect(88, 59, 157, 21), false, false, false},
        {edtPassword, QRect(88, 86, 157, 21), false, false, false},
        {edtFECartellaDaInviare, QRect(158, 173, 373, 21), false, true, false},
        {edtFECartellaRicevute, QRect(158, 200, 373, 21), false, true, false},
        {btnOk, QRect(456, 240, 75, 25), true, false, false},
        {chkEseguiInAvvio, QRect(196, 244, 97, 17), false, false, false},
        {edtIntervalloSec, QRect(107, 146, 54, 21), false, false, false},
        {lklVORN, QRect(268, 36, 165, 17), false, false, false},
    };

    const double scale = logicalDpiX() / 96.0;
    resize(qRound(kDesignedClientSize.width() * scale), qRound(kDesignedClientSize.height() * scale));
    ApplyLayout();
    edtDatabase->setFocus();
}

void TfrmMain::ApplyLayout()
{
    const double scale = logicalDpiX() / 96.0;
    const auto scaled = [scale](int v) { return qRound(v * scale); };
    // What the window has grown (or shrunk) by against its designed size, in designed pixels.
    const int grownX = qRound(width() / scale) - kDesignedClientSize.width();
    const int grownY = qRound(height() / scale) - kDesignedClientSize.height();
    for (const TPlacement& p : FPlacements) {
        QRect r = p.Bounds;
        if (p.FollowsRight)
            r.moveLeft(r.left() + grownX);
        if (p.StretchesWidth)
            r.setWidth(qMax(0, r.width() + grownX));
        if (p.StretchesHeight)
            r.setHeight(qMax(0, r.height() + grownY));
        p.Control->setGeometry(scaled(r.left()), scaled(r.top()), scaled(r.width()), scaled(r.height()));
    }
}
