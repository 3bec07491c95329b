#include "NumericLineEdit.h"

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

TNumericLineEdit::TNumericLineEdit(qint32 decimals, qint32 intDigits, QWidget* parent)
    : QLineEdit(parent), FDecimals(decimals), FIntDigits(intDigits)
{}

void TNumericLineEdit::keyPressEvent(QKeyEvent* event)
{
    // Only a key that types one character is filtered; Backspace counts as one, as it always has
    // for this filter, and passes it back unchanged.
    const QString text = event->text();
    const bool control = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool typesCharacter = text.size() == 1 && !control && (text.at(0).isPrint() || text.at(0) == kBackspace);
    if (!typesCharacter) {
        QLineEdit::keyPressEvent(event);
        return;
    }

    TLineEditBox box(*this);
    const QChar typed = text.at(0);
    const QChar result = FSeparator.isNull() ? FilterNumericKey(&box, typed, FDecimals, FIntDigits)
                                             : FilterNumericKey(&box, typed, FDecimals, FIntDigits, FSeparator);
    if (result.isNull()) {
        event->accept();
        return;
    }
    if (result == typed) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // A converted separator: the box takes the character the filter chose.
    QKeyEvent converted(event->type(), event->key(), event->modifiers(), QString(result), event->isAutoRepeat(),
                        ushort(event->count()));
    QLineEdit::keyPressEvent(&converted);
    event->setAccepted(converted.isAccepted());
}
