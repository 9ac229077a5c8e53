#include "foundation/error.h"

namespace tessera {

Error::Error(QString description)
    : m_description(std::move(description))
    , m_utf8(m_description.toUtf8())
{}

Error::~Error() = default;

CancelledError::CancelledError()
    : Error(QStringLiteral("The operation was cancelled."))
{}

TransportError::TransportError(Kind kind, QString description)
    : Error(std::move(description))
    , m_kind(kind)
{}

DecodingError::DecodingError(QString detail)
    : Error(QStringLiteral("The data couldn’t be read because it isn’t in the correct format. (") +
            detail + QStringLiteral(")"))
{}

QString describeException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return e.description();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}

} // namespace tessera
