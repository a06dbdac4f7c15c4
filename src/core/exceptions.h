#pragma once

#include <exception>
#include <QString>

// Base of the system's errors: a finished message text, shown as it is by the application's error box.
class Exception : public std::exception
{
public:
    explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// The system's own error type (database file).
class EOstrelException : public Exception
{
public:
    using Exception::Exception;
};

// Assigning a persistent object from a source of another class.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// A malformed component stream.
class EReadError : public Exception
{
public:
    using Exception::Exception;
};

// The message text of any error that reaches a handler boundary.
QString ExceptionMessage(const std::exception& e);
