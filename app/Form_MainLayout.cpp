// The window's controls and their arrangement, kept apart from its behaviour in Form_Main.cpp.

#include "app/Form_Main.h"

#include "app/AppIcon.h"
#include "app/NumericLineEdit.h"
#include "app/SingleLineEdit.h"

#include <QApplication>
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

// Tahoma 8 pt (11 pixels at 96 dpi) where the machine has it. Otherwise the first of these of the
// same pixel size: Liberation Sans has Arial's metrics and fits every label within two pixels of
// Tahoma's widths; DejaVu Sans, always there, is wider and lets the labels grow to their text.
QFont WindowFont(double scale)
{
    static const char* const kFamilies[] = {"Tahoma", "Liberation Sans", "DejaVu Sans Condensed",
                                            "DejaVu Sans"};
    const QStringList installed = QFontDatabase::families();
    QString family = QStringLiteral("Sans Serif");
    for (const char* candidate : kFamilies) {
        if (installed.contains(QLatin1String(candidate))) {
            family = QLatin1String(candidate);
            break;
        }
    }
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qRound(11 * scale));
    return font;
}

QFrame* Band(QWidget* parent, QColor colour)
{
    auto* band = new QFrame(parent);
    band->setFrameShape(QFrame::NoFrame);
    band->setAutoFillBackground(true);
    // Its own role: otherwise it inherits the window's button-face role and paints that colour.
    band->setBackgroundRole(QPalette::Window);
    QPalette palette = band->palette();
    palette.setColor(QPalette::Window, colour);
    band->setPalette(palette);
    return band;
}

QLabel* Label(QWidget* parent, const QString& text, bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    // The text stands at the top of its area, as the designed heights assume.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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
    setFont(WindowFont(logicalDpiX() / 96.0));
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
    edtDatabase = new TSingleLineEdit(this);
    edtUsername = new TSingleLineEdit(this);
    edtPassword = new TSingleLineEdit(this);
    edtPassword->setEchoMode(QLineEdit::Password);
    // Created after the box and owned by the window, so it outlives the box that uses it.
    auto* passwordStyle = new TAsteriskPasswordStyle;
    passwordStyle->setParent(this);
    edtPassword->setStyle(passwordStyle);
    edtFECartellaDaInviare = new TSingleLineEdit(this);
    edtFECartellaRicevute = new TSingleLineEdit(this);
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setIcon(CheckMarkIcon());
    btnOk->setDefault(true);
    chkEseguiInAvvio = new QCheckBox(this);
    edtIntervalloSec = new TNumericLineEdit(this);

    lklVORN = new QLabel(QStringLiteral("Apri VORN nel browser"), this);
    lklVORN->setTextFormat(Qt::PlainText);
    lklVORN->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lklVORN->setFocusPolicy(Qt::NoFocus);
    lklVORN->setOpenExternalLinks(false);
    lklVORN->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    {
        // Plain text and anchors both in the highlight colour. The role is set outright: left
        // alone it would follow the window's button-face background to ButtonText. Anchors take
        // their colour from the application's palette when the mark-up is parsed, not from the
        // label's, so the program's only link colour is set there too.
        QPalette application = QApplication::palette();
        if (application.color(QPalette::Link) != application.color(QPalette::Highlight)) {
            application.setColor(QPalette::Link, application.color(QPalette::Highlight));
            QApplication::setPalette(application);
        }
        QPalette palette = lklVORN->palette();
        palette.setColor(QPalette::Link, palette.color(QPalette::Highlight));
        lklVORN->setPalette(palette);
        lklVORN->setForegroundRole(QPalette::Link);
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

    FPlacements = {
        {Shape1, QRect(0, 0, 575, 121), StretchesWidth},
        {Shape2, QRect(0, 122, 575, 167), StretchesWidth | StretchesHeight},
        {Label1, QRect(24, 35, 50, 13), GrowsWithText},
        {Label2, QRect(24, 62, 52, 13), GrowsWithText},
        {Label3, QRect(24, 89, 50, 13), GrowsWithText},
        {Label4, QRect(24, 150, 77, 13), GrowsWithText},
        {Label5, QRect(24, 177, 128, 13), GrowsWithText},
        {Label6, QRect(24, 203, 120, 13), GrowsWithText},
        {Label7, QRect(17, 8, 164, 13), GrowsWithText},
        {Label8, QRect(17, 127, 113, 13), GrowsWithText},
        {btDaInviare, QRect(537, 169, 25, 25), FollowsRight},
        {btnRicevute, QRect(537, 196, 25, 25), FollowsRight},
        {Label9, QRect(17, 245, 173, 13), GrowsWithText},
        {edtDatabase, QRect(88, 32, 157, 21), Fixed},
        {edtUsername, QRect(88, 59, 157, 21), Fixed},
        {edtPassword, QRect(88, 86, 157, 21), Fixed},
        {edtFECartellaDaInviare, QRect(158, 173, 373, 21), StretchesWidth},
        {edtFECartellaRicevute, QRect(158, 200, 373, 21), StretchesWidth},
        {btnOk, QRect(456, 240, 75, 25), FollowsRight},
        {chkEseguiInAvvio, QRect(196, 244, 97, 17), Fixed},
        {edtIntervalloSec, QRect(107, 146, 54, 21), Fixed},
        // Fixed size: a longer text (the inactive message) is clipped at the right.
        {lklVORN, QRect(268, 36, 165, 17), Fixed},
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
        if (p.Anchors & FollowsRight)
            r.moveLeft(r.left() + grownX);
        if (p.Anchors & StretchesWidth)
            r.setWidth(qMax(0, r.width() + grownX));
        if (p.Anchors & StretchesHeight)
            r.setHeight(qMax(0, r.height() + grownY));
        QRect placed(scaled(r.left()), scaled(r.top()), scaled(r.width()), scaled(r.height()));
        if (p.Anchors & GrowsWithText)
            placed.setWidth(qMax(placed.width(), p.Control->sizeHint().width()));
        p.Control->setGeometry(placed);
    }
}
