// The main window's layout and the behaviour of the controls that act inside it, through real key
// and mouse events on the offscreen platform.

#include "app/Form_Main.h"
#include "app/MessageBox.h"
#include "app/NumericLineEdit.h"
#include "app/VornApplication.h"
#include "log/LogFile.h"
#include "tests/support/FormAccess.h"
#include "tests/support/Print.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

class FormLayoutTest : public testing::Test
{
protected:
    FormLayoutTest() : FPreviousDir(QDir::currentPath())
    {
        QDir::setCurrent(FDir.path());
        VornMessageBox::SetObserverForTesting([this](const QString& text) { Boxes.push_back(text); });
        TfrmMain::SetOpenAddressForTesting([this](const QString& address) { Opened.push_back(address); });
        Form = std::make_unique<TfrmMain>();
        if (AppLog)
            AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
        Form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }
    ~FormLayoutTest() override
    {
        Form.reset();
        TfrmMain::SetOpenAddressForTesting({});
        TfrmMain::SetChooseFolderForTesting({});
        TfrmMain::SetDecimalSeparatorForTesting(QChar());
        VornMessageBox::SetObserverForTesting({});
        QDir::setCurrent(FPreviousDir);
    }

    QTemporaryDir FDir;
    QString FPreviousDir;
    std::unique_ptr<TfrmMain> Form;
    std::vector<QString> Boxes;
    std::vector<QString> Opened;
};

TEST_F(FormLayoutTest, ControlsStandWhereTheWindowPutsThemAt96Dpi)
{
    ASSERT_EQ(Form->logicalDpiX(), 96) << "the offscreen platform is expected to report 96 dpi";
    EXPECT_EQ(Form->size(), QSize(574, 287));
    const struct
    {
        QWidget* Control;
        QRect Expected;
    } cases[] = {
        {Access::Shape1(*Form), QRect(0, 0, 575, 121)},
        {Access::Shape2(*Form), QRect(0, 122, 575, 167)},
        {Access::Database(*Form), QRect(88, 32, 157, 21)},
        {Access::Username(*Form), QRect(88, 59, 157, 21)},
        {Access::Password(*Form), QRect(88, 86, 157, 21)},
        {Access::Interval(*Form), QRect(107, 146, 54, 21)},
        {Access::Folder(*Form), QRect(158, 173, 373, 21)},
        {Access::FolderButton(*Form), QRect(537, 169, 25, 25)},
        {Access::Ok(*Form), QRect(456, 240, 75, 25)},
        {Access::AutomaticStart(*Form), QRect(196, 244, 97, 17)},
        {Access::Link(*Form), QRect(268, 36, 165, 17)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Control->metaObject()->className());
        EXPECT_EQ(c.Control->geometry(), c.Expected);
    }
    const QColor credentials = Access::Shape1(*Form)->palette().color(QPalette::Window);
    const QColor invoices = Access::Shape2(*Form)->palette().color(QPalette::Window);
    EXPECT_EQ(credentials, QColor(202, 223, 247));
    EXPECT_EQ(invoices, QColor(252, 253, 225));
    // And painted so: a spot of each band with no control on it, and the line between them.
    const QImage picture = Form->grab().toImage();
    EXPECT_EQ(picture.pixelColor(500, 100), QColor(202, 223, 247));
    EXPECT_EQ(picture.pixelColor(500, 280), QColor(252, 253, 225));
    EXPECT_EQ(picture.pixelColor(500, 121), Form->palette().color(QPalette::Button));
}

TEST_F(FormLayoutTest, ResizingStretchesTheBandsAndTheFolderBoxAndMovesTheRightHandControls)
{
    Form->resize(800, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(Access::Shape1(*Form)->geometry(), QRect(0, 0, 801, 121)); // width only
    EXPECT_EQ(Access::Shape2(*Form)->geometry(), QRect(0, 122, 801, 280));
    EXPECT_EQ(Access::Folder(*Form)->geometry(), QRect(158, 173, 599, 21));
    EXPECT_EQ(Access::FolderButton(*Form)->geometry(), QRect(763, 169, 25, 25));
    EXPECT_EQ(Access::Ok(*Form)->geometry(), QRect(682, 240, 75, 25));
    // Everything else keeps its place.
    EXPECT_EQ(Access::Database(*Form)->geometry(), QRect(88, 32, 157, 21));
    EXPECT_EQ(Access::Link(*Form)->geometry(), QRect(268, 36, 165, 17));
}

TEST_F(FormLayoutTest, TabVisitsTheBoxesInOrderAndNeverTheHiddenOrImageControls)
{
    EXPECT_EQ(QApplication::focusWidget(), Access::Database(*Form));
    const std::vector<QWidget*> expected = {Access::Username(*Form), Access::Password(*Form),
                                            Access::Interval(*Form), Access::Folder(*Form),
                                            Access::Ok(*Form),       Access::AutomaticStart(*Form),
                                            Access::Database(*Form)};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
    EXPECT_FALSE(Access::ReceivedFolder(*Form)->isVisible());
    EXPECT_FALSE(Access::Label6(*Form)->isVisible());
    EXPECT_FALSE(Access::ReceivedFolderButton(*Form)->isVisible());
    EXPECT_EQ(Access::FolderButton(*Form)->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(Access::Link(*Form)->focusPolicy(), Qt::NoFocus);
}

TEST_F(FormLayoutTest, EnterFromEveryControlActsAsOkAndEscapeClosesNothing)
{
    // With every box empty, OK's settings check fails at once: its message shows the key got there.
    const std::vector<QWidget*> controls = {Access::Database(*Form), Access::Username(*Form),
                                            Access::Password(*Form), Access::Interval(*Form),
                                            Access::Folder(*Form),   Access::AutomaticStart(*Form),
                                            Access::Ok(*Form)};
    for (QWidget* control : controls) {
        SCOPED_TRACE(control->metaObject()->className());
        Boxes.clear();
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Return);
        EXPECT_EQ(Boxes, std::vector<QString>{"Databse non specificato"});
        Boxes.clear();
        QTest::keyClick(control, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(Boxes, std::vector<QString>{"Databse non specificato"});
    }
    Boxes.clear();
    QTest::keyClick(Access::Database(*Form), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(Boxes.empty()) << "Enter with a modifier is not OK";

    QTest::keyClick(Access::Database(*Form), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Form->isVisible());
}

TEST_F(FormLayoutTest, TheLinkFollowsTheDatabaseBox)
{
    QLabel* link = Access::Link(*Form);
    EXPECT_EQ(link->text(), "Apri VORN nel browser");
    EXPECT_EQ(link->textFormat(), Qt::PlainText);

    QTest::keyClicks(Access::Database(*Form), "  DEMO01 ");
    EXPECT_EQ(link->text(), "<a href=\"" + TfrmMain::WebAppBaseAddress +
                                "DEMO01\" target=\"_blank\">Apri VORN nel browser</a>");
    EXPECT_EQ(link->textFormat(), Qt::RichText);
    EXPECT_TRUE(TfrmMain::WebAppBaseAddress.startsWith("https://"));
    EXPECT_TRUE(TfrmMain::WebAppBaseAddress.endsWith("/"));

    // A real click on the anchor's text hands its target to the opener.
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(20, 8));
    EXPECT_EQ(Opened, std::vector<QString>{TfrmMain::WebAppBaseAddress + "DEMO01"});

    Access::Database(*Form)->setText("   ");
    EXPECT_EQ(link->text(), "Link ad VORN non attivo, configurare campo \"Database\"");
    EXPECT_EQ(link->textFormat(), Qt::PlainText);
    Opened.clear();
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(20, 8));
    EXPECT_TRUE(Opened.empty()) << "the inactive message is no link";

    // The name goes into the mark-up as typed, quotes and brackets included.
    Access::Database(*Form)->setText("a\"<b>");
    EXPECT_EQ(link->text(), "<a href=\"" + TfrmMain::WebAppBaseAddress +
                                "a\"<b>\" target=\"_blank\">Apri VORN nel browser</a>");
}

// The pixels of the label in the palette's highlight colour: the text and its underline.
int HighlightPixels(QLabel* label)
{
    const QColor highlight = label->palette().color(QPalette::Highlight);
    const QImage picture = label->grab().toImage();
    int count = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            count += picture.pixelColor(x, y) == highlight;
    return count;
}

TEST_F(FormLayoutTest, TheLinkIsDrawnInTheHighlightColourAndUnderlined)
{
    QLabel* link = Access::Link(*Form);
    EXPECT_TRUE(link->font().underline());
    // At least the underline beneath the text, in every state of the label.
    const int textWidth = link->fontMetrics().horizontalAdvance("Apri VORN nel browser");
    EXPECT_GE(HighlightPixels(link), textWidth) << "initial text";
    Access::Database(*Form)->setText("DEMO01");
    EXPECT_GE(HighlightPixels(link), textWidth) << "link";
    Access::Database(*Form)->setText("");
    EXPECT_GE(HighlightPixels(link), textWidth) << "inactive message";
    EXPECT_EQ(link->size(), QSize(165, 17)) << "the longer message is clipped, the label keeps its size";
}

// The real dialog, answered from inside its own modal loop.
TEST_F(FormLayoutTest, TheFolderDialogChoosesFoldersOnlyWithoutPathBoxOrNewFolderButton)
{
    QDir(FDir.path()).mkdir("fatture");
    const QString start = QDir::toNativeSeparators(FDir.path() + "/fatture");
    Access::Folder(*Form)->setText(start);
    struct Seen
    {
        bool Modal = false;
        QString Title;
        bool PathBoxShown = true;
        bool NewFolderShown = true;
        bool FoldersOnly = false;
    } seen;
    bool answered = false;
    const auto answer = [&](bool accept) {
        QTimer::singleShot(0, Form.get(), [&, accept] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answered = true;
            seen.Modal = dialog->isModal();
            seen.Title = dialog->windowTitle();
            const auto shown = [dialog](const char* name) {
                auto* child = dialog->findChild<QWidget*>(QLatin1String(name));
                return child && child->isVisible();
            };
            seen.PathBoxShown = shown("fileNameEdit");
            seen.NewFolderShown = shown("newFolderButton");
            seen.FoldersOnly =
                dialog->fileMode() == QFileDialog::Directory && dialog->testOption(QFileDialog::ShowDirsOnly);
            QDialog* box = dialog; // accept() is protected in QFileDialog
            accept ? box->accept() : box->reject();
        });
    };

    answer(false);
    QTest::mouseClick(Access::FolderButton(*Form), Qt::LeftButton);
    ASSERT_TRUE(answered);
    EXPECT_TRUE(seen.Modal);
    EXPECT_EQ(seen.Title, "Selezione cartella fatture da inviare");
    EXPECT_FALSE(seen.PathBoxShown);
    EXPECT_FALSE(seen.NewFolderShown);
    EXPECT_TRUE(seen.FoldersOnly);
    EXPECT_EQ(Access::Folder(*Form)->text(), start) << "cancel keeps the box";

    // Confirmed at once, the dialog gives the folder it opened at.
    Access::Folder(*Form)->setText(FDir.path() + "/");
    answered = false;
    answer(true);
    QTest::mouseClick(Access::FolderButton(*Form), Qt::LeftButton);
    ASSERT_TRUE(answered);
    EXPECT_EQ(QDir::cleanPath(Access::Folder(*Form)->text()), QDir::cleanPath(FDir.path()));
}

TEST_F(FormLayoutTest, TheFolderPickerStartsAtAnExistingFolderAndCancelKeepsTheBox)
{
    struct Call
    {
        QString Instruction;
        QString Start;
    };
    std::vector<Call> calls;
    QString answer;
    TfrmMain::SetChooseFolderForTesting([&](QWidget*, const QString& instruction, const QString& start) {
        calls.push_back({instruction, start});
        return answer;
    });

    Access::Folder(*Form)->setText(FDir.path() + "/manca");
    QTest::mouseClick(Access::FolderButton(*Form), Qt::LeftButton);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Instruction, "Selezione cartella fatture da inviare");
    EXPECT_EQ(calls[0].Start, "") << "a folder that does not exist gives no start";
    EXPECT_EQ(Access::Folder(*Form)->text(), FDir.path() + "/manca") << "cancel keeps the text";

    Access::Folder(*Form)->setText(FDir.path());
    answer = FDir.path() + "/scelta";
    QTest::mouseClick(Access::FolderButton(*Form), Qt::LeftButton);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].Start, FDir.path());
    EXPECT_EQ(Access::Folder(*Form)->text(), answer);
}

TEST_F(FormLayoutTest, ThePasswordBoxShowsStars)
{
    QLineEdit* box = Access::Password(*Form);
    EXPECT_EQ(box->echoMode(), QLineEdit::Password);
    EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box), '*');
}

// The ways text enters a box, each delivered as the platform delivers it.
enum class TEntry
{
    Keys, // one key per character, Backspace for "\b"
    AltKeys,
    MetaKeys,
    OneKeyEvent, // one key whose text is all of it (a compose sequence, a character beyond the BMP)
    CtrlV,
    ShiftInsert,
    ContextMenu,
    Drop,
    InputMethod,
    PasteUndoRedo, // Ctrl+V, then undo and redo
};

void Enter(QLineEdit* box, const QString& text, TEntry how)
{
    const auto typeEach = [&](Qt::KeyboardModifiers modifiers) {
        for (const QChar ch : text) {
            if (ch == u'\b')
                QTest::keyClick(box, Qt::Key_Backspace, modifiers);
            else
                QTest::keyClick(box, ch.toLatin1(), modifiers);
        }
    };
    if (how != TEntry::Keys && how != TEntry::AltKeys && how != TEntry::MetaKeys)
        QGuiApplication::clipboard()->setText(text);
    switch (how) {
    case TEntry::Keys:
        return typeEach(Qt::NoModifier);
    case TEntry::AltKeys:
        return typeEach(Qt::AltModifier);
    case TEntry::MetaKeys:
        return typeEach(Qt::MetaModifier);
    case TEntry::OneKeyEvent: {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
        QApplication::sendEvent(box, &press);
        return;
    }
    case TEntry::CtrlV:
        return QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    case TEntry::ShiftInsert:
        return QTest::keyClick(box, Qt::Key_Insert, Qt::ShiftModifier);
    case TEntry::ContextMenu: {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(box, &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QAction* paste = nullptr;
        for (QAction* action : menu->actions())
            if (action->text().startsWith(QLineEdit::tr("&Paste")))
                paste = action;
        ASSERT_NE(paste, nullptr);
        paste->trigger();
        menu->close();
        return;
    }
    case TEntry::Drop: {
        // At the right-hand end of the box, after its text; Qt drops only where the drag entered.
        QMimeData data;
        data.setText(text);
        const QPoint end(box->width() - 2, box->height() / 2);
        QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box, &drop);
        return;
    }
    case TEntry::InputMethod: {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(box, &commit);
        return;
    }
    case TEntry::PasteUndoRedo:
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QTest::keySequence(box, QKeySequence::Undo);
        QTest::keySequence(box, QKeySequence::Redo);
        return;
    }
}

// Text entered into the interval box: the text and caret that result.
struct KeyCase
{
    const char* Name;
    QString Start;
    int SelectionStart; // -1: caret at the end, no selection
    int SelectionLength;
    QString Typed;
    QString Text;
    int Caret;
    TEntry How = TEntry::Keys;
};

class IntervalBoxTest : public FormLayoutTest, public testing::WithParamInterface<QChar>
{
};

// However it enters, text goes through the filter as if typed one character after the other.
TEST_P(IntervalBoxTest, EnteredTextGoesThroughTheNumericFilter)
{
    TNumericLineEdit* box = Access::Interval(*Form);
    TfrmMain::SetDecimalSeparatorForTesting(GetParam());
    const std::vector<KeyCase> cases = {
        {"a fourth digit", "120", -1, 0, "5", "1205", 4},
        {"no fifth digit", "1205", -1, 0, "6", "1205", 4},
        {"the whole text selected", "1205", 0, 4, "7", "7", 1},
        {"a selection counts against the limit", "1205", 2, 2, "9", "129", 3},
        {"a sign goes in front", "12", -1, 0, "-", "-12", 3},
        {"the same sign again", "-12", -1, 0, "-", "-12", 3},
        {"the sign replaced", "-12", -1, 0, "+", "+12", 3},
        {"a sign into an empty box", "", -1, 0, "-", "-", 1},
        {"the sign does not count", "-1234", -1, 0, "5", "-1234", 5},
        {"no separator of either kind", "12", -1, 0, ".,", "12", 2},
        {"a selection is not replaced by a sign", "123", 0, 3, "-", "-123", 1},
        {"letters and blanks", "1", -1, 0, "a b", "1", 1},
        {"a digit before the sign", "-12", 0, 0, "1", "1-12", 1},
        {"backspace", "123", -1, 0, "\b", "12", 2},
        {"keys held with Alt", "1", -1, 0, "2a3", "123", 3, TEntry::AltKeys},
        {"keys held with Meta", "1", -1, 0, "x2", "12", 2, TEntry::MetaKeys},
        {"a digit beyond the BMP", "1", -1, 0, "\U0001D7D0", "1", 1, TEntry::OneKeyEvent},
        {"a soft hyphen and direction marks", "1", -1, 0, "\u00AD\u200E\u061C", "1", 1, TEntry::OneKeyEvent},
        {"an input-method commit", "5", -1, 0, "6\u06637", "567", 3, TEntry::InputMethod},
        {"a paste, character by character", "12", -1, 0, "3a4-5", "-1234", 5, TEntry::CtrlV},
        {"a paste over a selection", "1205", 0, 4, "7\r\n7", "77", 2, TEntry::CtrlV},
        {"a paste by Shift+Insert", "1", -1, 0, "2 3", "123", 3, TEntry::ShiftInsert},
        {"a paste from the context menu", "", -1, 0, "9x9", "99", 2, TEntry::ContextMenu},
        {"a paste undone and done again", "12", -1, 0, "3x4", "1234", 4, TEntry::PasteUndoRedo},
        {"a drop", "12", -1, 0, "3.4,5", "1234", 4, TEntry::Drop},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        box->setText(c.Start);
        if (c.SelectionStart >= 0)
            box->setSelection(c.SelectionStart, c.SelectionLength);
        else
            box->end(false);
        Enter(box, c.Typed, c.How);
        EXPECT_EQ(box->text(), c.Text);
        EXPECT_EQ(box->cursorPosition(), c.Caret);
    }
}

TEST_P(IntervalBoxTest, KeysThatTypeNothingReachTheBox)
{
    TNumericLineEdit* box = Access::Interval(*Form);
    TfrmMain::SetDecimalSeparatorForTesting(GetParam());
    box->setText("1234");
    box->end(false);
    QTest::keyClick(box, Qt::Key_Left);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->text(), "123");
    QTest::keyClick(box, Qt::Key_Home);
    EXPECT_EQ(box->cursorPosition(), 0);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier); // select all
    EXPECT_EQ(box->selectedText(), "123");
}

// Characters that no key of the test keyboard types, sent as the platform would deliver them.
TEST_P(IntervalBoxTest, CharactersOutsideTheKeySetAreDiscarded)
{
    TfrmMain::SetDecimalSeparatorForTesting(GetParam());
    TNumericLineEdit* box = Access::Interval(*Form);
    box->setText("12");
    box->end(false);
    for (const QChar typed : {QChar(0x20AC), QChar(0x00B2), QChar(0x0662)}) {
        SCOPED_TRACE(int(typed.unicode()));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(typed));
        QApplication::sendEvent(box, &press);
        EXPECT_EQ(box->text(), "12");
    }
}

// A line break pasted into a box of one line would reach the configuration file, which cannot store
// it ("Unable to write to ..."): it is dropped as the text enters.
TEST_F(FormLayoutTest, LineBreaksNeverEnterTheOtherBoxes)
{
    const std::vector<QLineEdit*> boxes = {Access::Database(*Form), Access::Username(*Form),
                                           Access::Password(*Form), Access::Folder(*Form),
                                           Access::ReceivedFolder(*Form)};
    for (QLineEdit* box : boxes) {
        for (const TEntry how :
             {TEntry::CtrlV, TEntry::ShiftInsert, TEntry::ContextMenu, TEntry::Drop, TEntry::InputMethod}) {
            SCOPED_TRACE(testing::Message() << box->metaObject()->className() << " way " << int(how));
            box->setText("a");
            Enter(box, "b\r\nc\n", how);
            EXPECT_EQ(box->text(), "abc");
        }
    }
}

// A box with decimals: the separator of the other convention goes in as the user's one.
TEST(NumericLineEditTest, AReplacedCharacterIsInsertedInsteadOfTheTypedOne)
{
    for (const QChar separator : {QChar(u','), QChar(u'.')}) {
        SCOPED_TRACE(separator.toLatin1());
        TNumericLineEdit box;
        box.SetOnKeyPress([separator](INumericBox& sender, QChar& key) {
            key = FilterNumericKey(&sender, key, 2, 5, separator);
        });
        box.setText("12");
        box.end(false);
        QTest::keyClick(&box, separator == u',' ? '.' : ',');
        QTest::keyClicks(&box, "5.,7");
        EXPECT_EQ(box.text(), QString("12") + separator + "57");
    }
}

INSTANTIATE_TEST_SUITE_P(Separators, IntervalBoxTest, testing::Values(QChar(u','), QChar(u'.')),
                         [](const testing::TestParamInfo<QChar>& info) {
                             return info.param == u',' ? std::string("Comma") : std::string("Point");
                         });

} // namespace
