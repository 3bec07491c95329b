#include "util/NumericFilter.h"

#include <QLocale>

#include <algorithm>

namespace {

constexpr QChar kBackspace(8);

bool IsSign(QChar c)
{
    return c == u'-' || c == u'+';
}

QString WithoutFirstSigns(const QString& s)
{
    return DeleteFirstOccurrence(QStringLiteral("+"), DeleteFirstOccurrence(QStringLiteral("-"), s));
}

// The typed separator of the other convention becomes the user's one.
QChar ConvertSeparator(QChar key, QChar separator)
{
    if (separator == u',' && key == u'.')
        return u',';
    if (separator == u'.' && key == u',')
        return u'.';
    return key;
}

// A sign goes to the start of the text, replacing the sign already there; after a replaced sign at
// most decimals + intDigits + 1 characters are kept.
void PutSign(INumericBox& box, QChar sign, const QString& text, int selStart, qint32 decimals,
             qint32 intDigits)
{
    QString newText;
    if (!text.isEmpty() && IsSign(text[0])) {
        const qint64 kept = std::clamp<qint64>(qint64(decimals) + intDigits + 1, 0, text.size() - 1);
        newText = sign + text.mid(1, static_cast<qsizetype>(kept));
    } else {
        newText = sign + text;
    }
    if (newText != text)
        box.SetText(newText);
    box.SetCaret(static_cast<int>(std::clamp<qint64>(qint64(selStart) + 1, 0, newText.size())));
}

} // namespace

TNumericKeySet NumericKeySet(QChar decimalSeparator)
{
    TNumericKeySet keys;
    keys.set(u'+');
    keys.set(u'-');
    for (char16_t digit = u'0'; digit <= u'9'; ++digit)
        keys.set(digit);
    // Only a Latin-1 separator has an entry: taking the low 8 bits of a wider one (the Arabic
    // U+066B) would admit an unrelated letter ("k") as a digit.
    if (decimalSeparator.unicode() <= 0xFF)
        keys.set(decimalSeparator.unicode());
    return keys;
}

bool IsNumericKey(QChar key, QChar decimalSeparator)
{
    return key == decimalSeparator ||
           (key.unicode() <= 0xFF && NumericKeySet(decimalSeparator)[key.unicode()]);
}

QString DeleteFirstOccurrence(const QString& sub, const QString& s)
{
    const qsizetype at = sub.isEmpty() ? -1 : s.indexOf(sub, 0, Qt::CaseSensitive);
    if (at < 0)
        return s;
    return s.left(at) + s.mid(at + sub.size());
}

QChar GetDecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.isEmpty() ? QChar(u'.') : point[0];
}

qint32 DigitsBeforeSeparator(const QString& s)
{
    return DigitsBeforeSeparator(s, GetDecimalSeparator());
}

qint32 DigitsBeforeSeparator(const QString& s, QChar decimalSeparator)
{
    const QString t = WithoutFirstSigns(s);
    const qsizetype at = t.indexOf(decimalSeparator);
    return static_cast<qint32>(at >= 0 ? at : t.size());
}

qint32 DigitsAfterSeparator(const QString& s)
{
    return DigitsAfterSeparator(s, GetDecimalSeparator());
}

qint32 DigitsAfterSeparator(const QString& s, QChar decimalSeparator)
{
    const QString t = WithoutFirstSigns(s);
    const qsizetype at = t.indexOf(decimalSeparator);
    return static_cast<qint32>(at >= 0 ? t.size() - at - 1 : 0);
}

QChar FilterNumericKey(INumericBox* sender, QChar key, qint32 decimals, qint32 intDigits)
{
    return FilterNumericKey(sender, key, decimals, intDigits, GetDecimalSeparator());
}

QChar FilterNumericKey(INumericBox* sender, QChar key, qint32 decimals, qint32 intDigits,
                       QChar decimalSeparator)
{
    if (sender == nullptr)
        return key;
    const QString text = sender->Text();
    const QString selected = sender->SelectedText();
    const int selStart = sender->SelectionStart();
    // Not always the selected stretch itself: the first occurrence of the selected text goes.
    const QString rest = DeleteFirstOccurrence(selected, text);

    if (key == kBackspace)
        return key;
    const QChar sep = decimalSeparator;
    key = ConvertSeparator(key, sep);
    if (!IsNumericKey(key, sep))
        return QChar();

    const qsizetype sepPos = rest.indexOf(sep) + 1; // counted from 1; 0 when there is none
    if (key == sep)
        return sepPos == 0 && decimals != 0 ? key : QChar();

    if (IsSign(key)) {
        PutSign(*sender, key, text, selStart, decimals, intDigits);
        return QChar();
    }

    if (sepPos != 0 && selStart >= sepPos)
        return DigitsAfterSeparator(text, sep) - DigitsAfterSeparator(selected, sep) < decimals ? key
                                                                                                : QChar();
    return DigitsBeforeSeparator(text, sep) - DigitsBeforeSeparator(selected, sep) < intDigits ? key
                                                                                               : QChar();
}
