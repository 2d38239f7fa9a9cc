#include "HttpGet.h"

#include "UpdateState.h"

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

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

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

DownloadStatus httpDownload(const QUrl& url, int timeoutMs, qint64 maxBytes, const DownloadSink& sink,
                            qint64* received, QString* error)
{
    qint64 taken = 0;
    if (received)
        *received = 0;
    const QString address = url.toString();
    if (!isAllowedUpdateUrl(url)) {
        setError(error, QStringLiteral("Endereço não permitido (somente https): %1").arg(address));
        return DownloadStatus::Failed;
    }

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
    bool sinkFailed = false;
    QString refusedRedirect;
    QUrl current = url;

    const auto stop = [reply] {
        if (!reply->isFinished())
            reply->abort();
    };
    const auto take = [&] {
        if (tooLarge || sinkFailed)
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
        if (sink && !sink(chunk)) {
            sinkFailed = true;
            stop();
        }
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

    DownloadStatus status = DownloadStatus::Failed;
    if (tooLarge) {
        status = DownloadStatus::TooLarge;
        setError(error, QStringLiteral("Resposta maior que o limite de %1 bytes ao acessar: %2")
                            .arg(maxBytes)
                            .arg(address));
    } else if (sinkFailed) {
        // The sink knows why it failed and reports it itself.
    } else if (!refusedRedirect.isEmpty()) {
        setError(error, QStringLiteral("Redirecionamento não permitido para: %1").arg(refusedRedirect));
    } else if (!reply->isFinished()) {
        reply->abort();
        setError(error, QStringLiteral("Tempo limite excedido ao acessar: %1").arg(address));
    } else if (isHttpError(reply)) {
        // Qt also flags 4xx/5xx as network errors; the status is the clearer reason.
        setError(error, QStringLiteral("HTTP %1 ao acessar: %2")
                            .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
                            .arg(address));
    } else if (reply->error() != QNetworkReply::NoError) {
        setError(error, reply->errorString());
    } else if (taken == 0) {
        // Callers treat an empty result as failure, so it must carry a reason.
        setError(error, QStringLiteral("Resposta vazia ao acessar: %1").arg(address));
    } else {
        status = DownloadStatus::Complete;
    }
    if (received)
        *received = taken;
    // Our handlers capture locals; none may run after this function returns.
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    reply->deleteLater();
    return status;
}

QByteArray httpGet(const QUrl& url, int timeoutMs, qint64 maxBytes, QString* error)
{
    QByteArray body;
    const DownloadStatus status = httpDownload(
        url, timeoutMs, maxBytes,
        [&body](const QByteArray& chunk) {
            body.append(chunk);
            return true;
        },
        nullptr, error);
    if (status != DownloadStatus::Complete)
        return {};
    return body;
}

} // namespace Keldra::Deployment
