#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The system's base failure: an exception that carries the message text a person reads.
class EVornError : public std::exception
{
public:
    explicit EVornError(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A failed file operation; carries the operating system's error code (errno here).
class EInOutError : public EVornError
{
public:
    EInOutError(QString message, int errorCode) : EVornError(std::move(message)), FErrorCode(errorCode) {}

    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// The operating system's text for an errno value, without trailing blanks, line breaks and full stops.
QString SystemErrorText(int errorCode);

// The message text a person reads for a failure: the system's own text for our failures, the
// library's text for any other exception.
QString ExceptionMessage(std::exception_ptr failure);
