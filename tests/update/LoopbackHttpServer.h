#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <memory>

class QTcpServer;
class QTcpSocket;

// A minimal HTTP/1.1 server on 127.0.0.1 serving canned responses by path, run by the
// test's own event loop. With a TLS configuration it speaks HTTPS instead.
class LoopbackHttpServer
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray location; // sent as Location for redirects
        bool hang = false;   // accept the request and never answer
        // Send the body without a length and keep the connection open: only a limit
        // of the client's own can end such a download before its time-out.
        bool endless = false;
    };

    explicit LoopbackHttpServer(const QSslConfiguration& tls = QSslConfiguration());
    ~LoopbackHttpServer();

    bool start();
    QString baseUrl() const; // "http://127.0.0.1:PORT" or https

    void serve(const QString& path, const Response& response);
    void serve(const QString& path, const QByteArray& body)
    {
        serve(path, Response{200, body, {}, false, false});
    }

    QStringList requestedPaths() const { return m_requests; }
    int requestCount(const QString& path) const { return m_requests.count(path); }
    QByteArray lastHeader(const QByteArray& name) const { return m_lastHeaders.value(name.toLower()); }

private:
    void accept(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& request);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    QHash<QString, Response> m_responses;
    QStringList m_requests;
    QHash<QByteArray, QByteArray> m_lastHeaders;
};
