#include "app/SingleLineEdit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace {

// Whether a key types text rather than giving a command, told apart as QLineEdit does: Ctrl and
// Ctrl+Shift make shortcuts, except for the format characters that some layouts type with them.
bool TypesText(const QKeyEvent& event)
{
    const QString text = event.text();
    if (text.isEmpty() || text.front().category() == QChar::Other_Control)
        return false;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    const bool shortcut =
        modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
    return !shortcut || text.front().category() == QChar::Other_Format;
}

QString WithoutLineBreaks(QString text)
{
    text.remove(u'\r');
    text.remove(u'\n');
    return text;
}

} // namespace

TSingleLineEdit::TSingleLineEdit(QWidget* parent) : QLineEdit(parent) {}

void TSingleLineEdit::EnterText(const QString& text)
{
    const QString line = WithoutLineBreaks(text);
    // As a paste does, an empty text still takes the selection's place.
    if (!line.isEmpty() || hasSelectedText())
        insert(line);
}

void TSingleLineEdit::PasteFrom(QClipboard::Mode mode)
{
    EnterText(QGuiApplication::clipboard()->text(mode));
}

void TSingleLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        // Ctrl+Shift+Insert pastes the selection where the desktop keeps one.
        const bool selection = event->key() == Qt::Key_Insert &&
                               event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) &&
                               QGuiApplication::clipboard()->supportsSelection();
        PasteFrom(selection ? QClipboard::Selection : QClipboard::Clipboard);
        event->accept();
        return;
    }
    if (TypesText(*event)) {
        EnterText(event->text());
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSingleLineEdit::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    if (isReadOnly() || commit.isEmpty()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    // The rest of the event (the text being composed, a stretch it replaces) goes as the input
    // method meant it; the committed text enters as typed text does.
    QInputMethodEvent rest(event->preeditString(), event->attributes());
    rest.setCommitString(QString(), event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&rest);
    EnterText(commit);
    event->accept();
}

void TSingleLineEdit::mouseReleaseEvent(QMouseEvent* event)
{
    // The middle button pastes the selection where the desktop keeps one, at the caret its press set.
    if (event->button() == Qt::MiddleButton && !isReadOnly() &&
        QGuiApplication::clipboard()->supportsSelection()) {
        deselect();
        PasteFrom(QClipboard::Selection);
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TSingleLineEdit::dropEvent(QDropEvent* event)
{
    // Text moved within the box is text it already holds.
    if (event->source() == this && event->dropAction() == Qt::MoveAction) {
        QLineEdit::dropEvent(event);
        return;
    }
    if (isReadOnly() || !event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setCursorPosition(cursorPositionAt(event->position().toPoint()));
    EnterText(event->mimeData()->text());
}

void TSingleLineEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            // The submenu of Unicode control characters, which it would insert unseen.
            menu->removeAction(action);
        } else if (action->text().startsWith(QLineEdit::tr("&Paste"))) {
            action->disconnect(this);
            connect(action, &QAction::triggered, this, [this] { PasteFrom(QClipboard::Clipboard); });
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
