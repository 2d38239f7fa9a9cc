#include "HttpGet.h"

#include "UpdateState.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace Keldra::Deployment {

namespace {

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

} // namespace

QByteArray httpGet(const QUrl& url, int timeoutMs, QString* error)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setRawHeader("User-Agent", QStringLiteral("KeldraConfig/%1").arg(configToolVersion()).toLatin1());
    request.setRawHeader("Accept", "*/*");

    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();

    QByteArray body;
    const QString address = url.toString();
    // Qt also flags 4xx/5xx as network errors; the status is the clearer reason.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!reply->isFinished()) {
        reply->abort();
        setError(error, QStringLiteral("Tempo limite excedido ao acessar: %1").arg(address));
    } else if (status.isValid() && status.toInt() > 399) {
        setError(error, QStringLiteral("HTTP %1 ao acessar: %2").arg(status.toInt()).arg(address));
    } else if (reply->error() != QNetworkReply::NoError) {
        setError(error, reply->errorString());
    } else {
        body = reply->readAll();
        // Callers treat an empty result as failure, so it must carry a reason.
        if (body.isEmpty())
            setError(error, QStringLiteral("Resposta vazia ao acessar: %1").arg(address));
    }
    reply->deleteLater();
    return body;
}

} // namespace Keldra::Deployment
