#include "app/MessageBox.h"

#include <QMessageBox>

namespace {
std::function<void(const QString&)>& Observer()
{
    static std::function<void(const QString&)> observer;
    return observer;
}
} // namespace

void VornMessageBox::ShowError(QWidget* parent, const QString& text)
{
    if (Observer()) {
        Observer()(text);
        return;
    }
    QMessageBox::critical(parent, QStringLiteral("VORN Automatic"), text, QMessageBox::Ok);
}

void VornMessageBox::SetObserverForTesting(std::function<void(const QString& text)> observer)
{
    Observer() = std::move(observer);
}
