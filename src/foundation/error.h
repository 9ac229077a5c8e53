#pragma once

#include <QString>
#include <exception>

namespace tessera {

// Base of every failure Tessera raises. The description is the text the user sees;
// what() carries the same text for logs and test output.
class Error : public std::exception
{
public:
    explicit Error(QString description);
    ~Error() override;

    virtual QString description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// Raised by a cancellable wait (sleep, request) once its task has been cancelled.
class CancelledError : public Error
{
public:
    CancelledError();
};

// A failure below the HTTP layer: no connection, TLS refusal, timeout, or a request
// aborted by cancellation. Passed through the clients unchanged.
class TransportError : public Error
{
public:
    enum class Kind
    {
        connection,
        timeout,
        cancelled,
        tls,
        other
    };
    TransportError(Kind kind, QString description);
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// A response or stored document that does not have the expected JSON shape.
class DecodingError : public Error
{
public:
    explicit DecodingError(QString detail);
};

// The description of any exception as the user should see it.
QString describeException(std::exception_ptr error);

} // namespace tessera
