#include "app/NumericLineEdit.h"

#include <QKeyEvent>

namespace {

// The filter's view of a QLineEdit.
class TLineEditBox final : public INumericBox
{
public:
    explicit TLineEditBox(QLineEdit& edit) : FEdit(edit) {}
    QString Text() const override { return FEdit.text(); }
    QString SelectedText() const override { return FEdit.selectedText(); }
    int SelectionStart() const override
    {
        const int start = FEdit.selectionStart();
        return start >= 0 ? start : FEdit.cursorPosition();
    }
    void SetText(const QString& text) override
    {
        if (FEdit.text() != text)
            FEdit.setText(text);
    }
    void SetCaret(int position) override { FEdit.setCursorPosition(position); }

private:
    QLineEdit& FEdit;
};

constexpr QChar kBackspace(u'\b');

} // namespace

TNumericLineEdit::TNumericLineEdit(QWidget* parent) : QLineEdit(parent) {}

void TNumericLineEdit::keyPressEvent(QKeyEvent* event)
{
    // Only a key that types one character goes to the handler; Backspace counts as one, as it
    // always has for this filter.
    const QString text = event->text();
    const bool control = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool typesCharacter =
        text.size() == 1 && !control && (text.at(0).isPrint() || text.at(0) == kBackspace);
    if (!typesCharacter || !FOnKeyPress) {
        QLineEdit::keyPressEvent(event);
        return;
    }

    TLineEditBox box(*this);
    const QChar typed = text.at(0);
    QChar key = typed;
    FOnKeyPress(box, key);
    if (key.isNull()) {
        event->accept();
        return;
    }
    if (key == typed) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // A replaced character (a converted separator): the box takes the one the handler chose.
    QKeyEvent replaced(event->type(), event->key(), event->modifiers(), QString(key), event->isAutoRepeat(),
                       ushort(event->count()));
    QLineEdit::keyPressEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}
