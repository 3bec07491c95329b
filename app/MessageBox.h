#pragma once

#include <QString>
#include <functional>

class QWidget;

// The modal boxes of the program go through here, so that tests can observe them instead of
// being blocked by them.
namespace VornMessageBox {

// A modal error box with an OK button and the text.
void ShowError(QWidget* parent, const QString& text);

// While an observer is set, ShowError shows nothing and hands the text to it instead.
// An empty observer shows real boxes again.
void SetObserverForTesting(std::function<void(const QString& text)> observer);

} // namespace VornMessageBox
