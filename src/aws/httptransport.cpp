#include "aws/httptransport.h"

namespace tessera {

namespace {
QByteArray findHeader(const HttpHeaders &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}
} // namespace

QByteArray HttpRequest::header(const QByteArray &name) const
{
    return findHeader(headers, name);
}

QByteArray HttpResponse::header(const QByteArray &name) const
{
    return findHeader(headers, name);
}

HttpTransport::~HttpTransport() = default;

} // namespace tessera
