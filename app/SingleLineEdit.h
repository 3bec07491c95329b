#pragma once

#include <QClipboard>
#include <QLineEdit>

// A single-line text box in which every way text enters it ends in EnterText: typed keys (with Alt,
// Meta or AltGr too), input-method commits, paste by key, context menu or middle click, and drops.
// Here the line breaks of that text are dropped: a single-line value holds none, and the
// configuration file could not store one. Undo and redo only bring back earlier states of the box,
// whose text entered the same way; text the program sets is taken as it is.
class TSingleLineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TSingleLineEdit(QWidget* parent = nullptr);

protected:
    // Puts entering text at the caret, in place of the selection.
    virtual void EnterText(const QString& text);

    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void PasteFrom(QClipboard::Mode mode);
};
