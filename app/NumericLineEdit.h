#pragma once

#include "NumericFilter.h"

#include <QLineEdit>

// A text box whose typed characters go through the numeric entry filter. Keys that type nothing
// (arrows, Delete, Home, shortcuts) reach the box as Qt delivers them; pasted text is not checked.
class TNumericLineEdit : public QLineEdit
{
public:
    TNumericLineEdit(qint32 decimals, qint32 intDigits, QWidget* parent = nullptr);

    // The separator to filter with instead of the user's (tests).
    void SetDecimalSeparatorForTesting(QChar separator) { FSeparator = separator; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    qint32 FDecimals;
    qint32 FIntDigits;
    QChar FSeparator; // null: the user's, read anew at every key
};
