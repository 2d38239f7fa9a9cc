#include "deployment/HttpGet.h"

#include "deployment/UpdateState.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace Keldra::Deployment {

namespace {

constexpr int kMaximumRedirects = 5;
// Qt buffers at most this much ahead of us, so a fast server cannot fill memory.
constexpr qint64 kReadBufferBytes = 256 * 1024;

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isHttpError(const QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && status.toInt() > 399;
}

// Only a 2xx answer carries the body we asked for; error pages and redirects do not.
bool isSuccess(const QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

} // namespace

bool isAllowedUpdateUrl(const QUrl& url)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("https") ||
           (scheme == QLatin1String("http") && isLoopbackHost(url.host()));
}

Error httpDownload(const QUrl& url, int timeoutMs, qint64 maxBytes, const DownloadSink& sink,
                   qint64* received)
{
    qint64 taken = 0;
    if (received)
        *received = 0;
    const QString address = url.toString();
    if (!isAllowedUpdateUrl(url))
        return Error(Error::Reason::AddressNotAllowed, {address});

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    // Each hop is checked below: redirects stay on https and on allowed addresses.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaximumRedirects);
    request.setRawHeader("User-Agent", QStringLiteral("KeldraConfig/%1").arg(configToolVersion()).toLatin1());
    request.setRawHeader("Accept", "*/*");

    QNetworkReply* reply = manager.get(request);
    reply->setReadBufferSize(kReadBufferBytes);
    bool tooLarge = false;
    Error sinkError;
    QString refusedRedirect;
    QUrl current = url;

    const auto stop = [reply] {
        if (!reply->isFinished())
            reply->abort();
    };
    const auto take = [&] {
        if (tooLarge || !sinkError.ok())
            return;
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty() || !isSuccess(reply))
            return;
        if (chunk.size() > maxBytes - taken) {
            taken += chunk.size();
            tooLarge = true;
            stop();
            return;
        }
        taken += chunk.size();
        if (sink)
            sinkError = sink(chunk);
        if (!sinkError.ok())
            stop();
    };
    QObject::connect(reply, &QNetworkReply::redirected, reply, [&](const QUrl& target) {
        const bool downgrade = current.scheme().toLower() == QLatin1String("https") &&
                               target.scheme().toLower() != QLatin1String("https");
        if (downgrade || !isAllowedUpdateUrl(target)) {
            refusedRedirect = target.toString();
            stop();
            return;
        }
        current = target;
        emit reply->redirectAllowed();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (isSuccess(reply) && length.isValid() && length.toLongLong() > maxBytes) {
            taken = length.toLongLong();
            tooLarge = true;
            stop();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    if (reply->isFinished())
        take(); // whatever arrived with the end of the reply

    Error status;
    if (tooLarge) {
        status = Error(Error::Reason::ResponseTooLarge, {QString::number(maxBytes), address});
    } else if (!sinkError.ok()) {
        status = sinkError;
    } else if (!refusedRedirect.isEmpty()) {
        status = Error(Error::Reason::RedirectNotAllowed, {refusedRedirect});
    } else if (!reply->isFinished()) {
        reply->abort();
        status = Error(Error::Reason::TimedOut, {address}, QStringLiteral("after %1 ms").arg(timeoutMs));
    } else if (isHttpError(reply)) {
        // Qt also flags 4xx/5xx as network errors; the status is the clearer reason.
        status = Error(
            Error::Reason::HttpStatus,
            {QString::number(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()), address});
    } else if (reply->error() != QNetworkReply::NoError) {
        status = Error(Error::Reason::NetworkError, {reply->errorString()}, address);
    } else if (taken == 0) {
        // Callers treat an empty result as failure, so it must carry a reason.
        status = Error(Error::Reason::EmptyResponse, {address});
    }
    if (received)
        *received = taken;
    // Our handlers capture locals; none may run after this function returns.
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    reply->deleteLater();
    return status;
}

Error httpGet(const QUrl& url, int timeoutMs, qint64 maxBytes, QByteArray* body)
{
    QByteArray received;
    const Error status = httpDownload(
        url, timeoutMs, maxBytes,
        [&received](const QByteArray& chunk) {
            received.append(chunk);
            return Error();
        },
        nullptr);
    if (body)
        *body = status.ok() ? received : QByteArray();
    return status;
}

} // namespace Keldra::Deployment
