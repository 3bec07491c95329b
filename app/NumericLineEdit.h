#pragma once

#include "app/SingleLineEdit.h"
#include "util/NumericFilter.h"

#include <functional>

// A text box whose characters go to a key-press handler before the box inserts them: the handler
// may replace the character, or set it to the null character to discard it. Whatever way text
// enters (typed, committed by an input method, pasted, dropped), it is taken as typed, one character
// after the other. Keys that type nothing (arrows, Delete, Home, shortcuts) reach the box as Qt
// delivers them. The handler sees the box through the numeric filter's view of a text box.
class TNumericLineEdit : public TSingleLineEdit
{
    Q_OBJECT

public:
    using TKeyPress = std::function<void(INumericBox& sender, QChar& key)>;

    explicit TNumericLineEdit(QWidget* parent = nullptr);

    void SetOnKeyPress(TKeyPress handler) { FOnKeyPress = std::move(handler); }

protected:
    void EnterText(const QString& text) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The handler's answer for one typed character.
    QChar Filtered(QChar typed);

    TKeyPress FOnKeyPress;
};
