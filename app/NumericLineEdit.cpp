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

TNumericLineEdit::TNumericLineEdit(QWidget* parent) : TSingleLineEdit(parent) {}

QChar TNumericLineEdit::Filtered(QChar typed)
{
    QChar key = typed;
    if (FOnKeyPress) {
        TLineEditBox box(*this);
        FOnKeyPress(box, key);
    }
    return key;
}

void TNumericLineEdit::EnterText(const QString& text)
{
    for (const QChar typed : text) {
        // No key types a control or format character, or half of a character beyond the Basic
        // Multilingual Plane, into a number: the handler judges whole UTF-16 characters only.
        if (!typed.isPrint())
            continue;
        const QChar key = Filtered(typed);
        if (!key.isNull())
            insert(QString(key));
    }
}

void TNumericLineEdit::keyPressEvent(QKeyEvent* event)
{
    // Backspace goes to the handler too, as it always has for this filter, which may discard it.
    const bool withModifier = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (event->text() == QStringView(u"\b") && !withModifier && Filtered(kBackspace).isNull()) {
        event->accept();
        return;
    }
    TSingleLineEdit::keyPressEvent(event);
}
