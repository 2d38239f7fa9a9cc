#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

LoopbackHttpServer::LoopbackHttpServer(const QSslConfiguration& tls)
{
    if (tls.isNull()) {
        m_server = std::make_unique<QTcpServer>();
    } else {
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(tls);
        m_server = std::move(server);
        m_tls = true;
    }
    // Plain and TLS servers both announce sockets that are ready for HTTP here.
    QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, m_server.get(), [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection())
            accept(socket);
    });
}

// Open sockets are children of the server and go with it.
LoopbackHttpServer::~LoopbackHttpServer() = default;

bool LoopbackHttpServer::start()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QString LoopbackHttpServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_server->serverPort());
}

void LoopbackHttpServer::serve(const QString& path, const Response& response)
{
    m_responses.insert(path, response);
}

void LoopbackHttpServer::accept(QTcpSocket* socket)
{
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
        buffer->append(socket->readAll());
        if (buffer->contains("\r\n\r\n")) {
            const QByteArray request = *buffer;
            buffer->clear();
            answer(socket, request);
        }
    });
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const QByteArray& request)
{
    const QList<QByteArray> lines = request.left(request.indexOf("\r\n\r\n")).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QString path = QString::fromLatin1(requestLine.value(1));
    m_requests.append(path);
    m_lastHeaders.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            m_lastHeaders.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }

    const Response response =
        m_responses.value(path, Response{404, QByteArrayLiteral("not found"), {}, false, false});
    if (response.hang)
        return;
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\n";
    reply += "Content-Type: application/octet-stream\r\n";
    if (!response.endless)
        reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (!response.location.isEmpty())
        reply += "Location: " + response.location + "\r\n";
    reply += "Connection: close\r\n\r\n";
    reply += response.body;
    socket->write(reply);
    if (!response.endless)
        socket->disconnectFromHost(); // closes once the reply is out
}
