#pragma once

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

enum class DownloadStatus { Complete, TooLarge, Failed };

// Receives the body piece by piece; returning false stops the download as failed.
using DownloadSink = std::function<bool(const QByteArray& chunk)>;

// GET url, waiting in a local event loop for at most timeoutMs in total, and hand the
// body to sink as it arrives. Stops as soon as more than maxBytes arrive (TooLarge).
// Redirects are followed only to allowed addresses and never from https to http.
// received counts the bytes taken (or, when the server announced a larger length up
// front, that length). Failed sets error: timeout, network error, HTTP status of 400
// or above, an empty body, or a sink that failed (error left to the sink's caller).
[[nodiscard]] DownloadStatus httpDownload(const QUrl& url, int timeoutMs, qint64 maxBytes,
                                          const DownloadSink& sink, qint64* received, QString* error);

// The whole body in memory, at most maxBytes; empty with error set on any failure.
[[nodiscard]] QByteArray httpGet(const QUrl& url, int timeoutMs, qint64 maxBytes, QString* error);

} // namespace Keldra::Deployment
