#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace Keldra::Deployment {

// Downloads url with a GET request, waiting in a local event loop for at most
// timeoutMs in total. Redirects are followed except from HTTPS to HTTP. Returns the
// body, or an empty array with error set (timeout, network error, HTTP status of 400
// or above, or an empty body).
[[nodiscard]] QByteArray httpGet(const QUrl& url, int timeoutMs, QString* error);

} // namespace Keldra::Deployment
