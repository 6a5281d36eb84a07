#include "FakeHttpServer.h"

#include <QHostAddress>
#include <QJsonDocument>

QJsonObject FakeHttpRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

FakeHttpServer::FakeHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
}

FakeHttpServer::~FakeHttpServer()
{
    close();
}

bool FakeHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void FakeHttpServer::close()
{
    m_server.close();
}

quint16 FakeHttpServer::port() const
{
    return m_server.serverPort();
}

QString FakeHttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QList<FakeHttpRequest> FakeHttpServer::requests(const QString &path) const
{
    QList<FakeHttpRequest> matching;
    for (const FakeHttpRequest &request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void FakeHttpServer::releaseHeldAnswers()
{
    const auto held = std::exchange(m_held, {});
    for (const auto &[socket, response] : held) {
        if (socket)
            writeResponse(socket, response);
    }
}

int FakeHttpServer::awaitedHeldAnswerCount() const
{
    int count = 0;
    for (const auto &[socket, response] : m_held) {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            ++count;
    }
    return count;
}

void FakeHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    forever
    {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        FakeHttpRequest request;
        request.method = requestLine.value(0);
        request.path = QString::fromUtf8(requestLine.value(1));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(),
                                       line.mid(colon + 1).trimmed());
        }
        const qsizetype length = request.header("content-length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);

        const FakeHttpResponse response = respond(request);
        request.answer = response.drop ? -1 : response.hold ? 0 : response.status;
        m_requests.append(request);
        emit requestReceived(request);
        if (response.drop) {
            socket->abort();
            return;
        }
        if (response.hold)
            m_held.append({QPointer<QTcpSocket>(socket), response});
        else
            writeResponse(socket, response);
    }
}

void FakeHttpServer::writeResponse(QTcpSocket *socket, const FakeHttpResponse &response)
{
    static const QHash<int, QByteArray> reasons{{200, "OK"},
                                                {400, "Bad Request"},
                                                {401, "Unauthorized"},
                                                {403, "Forbidden"},
                                                {404, "Not Found"},
                                                {408, "Request Timeout"},
                                                {422, "Unprocessable Entity"},
                                                {429, "Too Many Requests"},
                                                {500, "Internal Server Error"},
                                                {502, "Bad Gateway"},
                                                {503, "Service Unavailable"}};
    QByteArray data = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasons.value(response.status, "Status") + "\r\n";
    data += "Content-Type: " + response.contentType + "\r\n";
    data += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto &[name, value] : response.headers)
        data += name + ": " + value + "\r\n";
    data += "Connection: close\r\n\r\n";
    data += response.body;
    socket->write(data);
    socket->disconnectFromHost();
}
