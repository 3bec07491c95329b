#pragma once

#include "util/NumericFilter.h"

#include <QLineEdit>
#include <functional>

// A text box whose typed characters go to a key-press handler before the box inserts them: the
// handler may replace the character, or set it to the null character to discard the key. Keys that
// type nothing (arrows, Delete, Home, shortcuts) reach the box as Qt delivers them; pasted text is
// not checked. The handler sees the box through the numeric filter's view of a text box.
class TNumericLineEdit : public QLineEdit
{
public:
    using TKeyPress = std::function<void(INumericBox& sender, QChar& key)>;

    explicit TNumericLineEdit(QWidget* parent = nullptr);

    void SetOnKeyPress(TKeyPress handler) { FOnKeyPress = std::move(handler); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TKeyPress FOnKeyPress;
};
