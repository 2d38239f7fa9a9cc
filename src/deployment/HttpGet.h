#pragma once

#include "deployment/DeploymentError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

namespace Keldra::Deployment {

// The limit for a manifest: far above any real one, far below what could hurt.
constexpr qint64 kManifestByteLimit = 1024 * 1024;

// Update traffic goes over https only; plain http is accepted for loopback addresses,
// where nothing can sit between the tool and the server.
bool isAllowedUpdateUrl(const QUrl& url);

// Receives the body piece by piece; a failure stops the download and is what it returns.
using DownloadSink = std::function<Error(const QByteArray& chunk)>;

// GET url, waiting in a local event loop for at most timeoutMs in total, and hand the
// body to sink as it arrives. Stops as soon as more than maxBytes arrive
// (ResponseTooLarge). Redirects are followed only to allowed addresses and never from
// https to http. received counts the bytes taken (or, when the server announced a
// larger length up front, that length). Fails on a timeout, a network error, an HTTP
// status of 400 or above, an empty body, or a sink that failed.
[[nodiscard]] Error httpDownload(const QUrl& url, int timeoutMs, qint64 maxBytes, const DownloadSink& sink,
                                 qint64* received);

// The whole body in memory, at most maxBytes; body is left empty on any failure.
[[nodiscard]] Error httpGet(const QUrl& url, int timeoutMs, qint64 maxBytes, QByteArray* body);

} // namespace Keldra::Deployment
