#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>
#include <bitset>

// Key filter for single-line text boxes that take a decimal number: an optional leading sign, at
// most IntDigits characters before the decimal separator and at most Decimals after it. The box's
// key-press handler calls FilterNumericKey for every typed character before the box inserts it, and
// inserts the result instead; a null result discards the key. Pasted or program-set text is not
// checked.

// What the filter needs of the text box. The window code implements it over its QLineEdit:
//   Text()           QLineEdit::text()
//   SelectedText()   QLineEdit::selectedText(); empty when nothing is selected
//   SelectionStart() QLineEdit::selectionStart(), or cursorPosition() when it gives -1 (no selection)
//   SetText()        QLineEdit::setText()
//   SetCaret()       QLineEdit::setCursorPosition(), which also clears the selection; the filter
//                    passes a position within 0..Text().size()
class INumericBox
{
public:
    virtual ~INumericBox() = default;
    virtual QString Text() const = 0;
    virtual QString SelectedText() const = 0;
    // 0-based start of the selection, or the caret position when nothing is selected.
    virtual int SelectionStart() const = 0;
    virtual void SetText(const QString& text) = 0;
    virtual void SetCaret(int position) = 0;
};

// The keys that can reach the box at all: "+", "-", "0" to "9" and the decimal separator, indexed
// by character code. A separator above code 255 has no entry; IsNumericKey accepts it as itself.
using TNumericKeySet = std::bitset<256>;
TNumericKeySet NumericKeySet(QChar decimalSeparator);
bool IsNumericKey(QChar key, QChar decimalSeparator);

// S without the first exact occurrence of Sub; S unchanged when Sub is empty or absent.
QString DeleteFirstOccurrence(const QString& sub, const QString& s);

// The decimal separator of the user's regional settings, read anew at every call.
QChar GetDecimalSeparator();

// Characters before the first separator (all of them without one), and after it (0 without one).
// Every character counts except the first "-" and the first "+".
qint32 DigitsBeforeSeparator(const QString& s);
qint32 DigitsBeforeSeparator(const QString& s, QChar decimalSeparator);
qint32 DigitsAfterSeparator(const QString& s);
qint32 DigitsAfterSeparator(const QString& s, QChar decimalSeparator);

// Returns the character to insert (possibly "." turned into "," or the reverse, to match the
// separator), or the null character to discard the key. A sign key edits the box itself: it puts
// the sign at the start of the text (replacing one already there) and moves the caret one to the
// right, and returns the null character. A null sender (not a single-line text box) gets every key
// back unchanged.
QChar FilterNumericKey(INumericBox* sender, QChar key, qint32 decimals, qint32 intDigits);
// The same under the given decimal separator instead of the user's.
QChar FilterNumericKey(INumericBox* sender, QChar key, qint32 decimals, qint32 intDigits,
                       QChar decimalSeparator);
