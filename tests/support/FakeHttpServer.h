#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

// One HTTP request as a fake server received it. Header names are lower case.
struct FakeHttpRequest
{
    QByteArray method;
    QString path;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
    // What the server did: the HTTP status it answered, 0 when it held the answer, -1 when it
    // closed the connection without one.
    int answer = 0;

    [[nodiscard]] QByteArray header(const QByteArray &name) const
    {
        return headers.value(name.toLower());
    }
    // The body parsed as a JSON object (empty when it is not one).
    [[nodiscard]] QJsonObject json() const;
};

struct FakeHttpResponse
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    // Keep the connection open without answering until releaseHeldAnswers().
    bool hold = false;
    // Close the connection without any answer, as a server that went away.
    bool drop = false;
    // Further headers of the answer, such as Retry-After.
    QList<QPair<QByteArray, QByteArray>> headers = {};
};

// A minimal HTTP/1.1 server on 127.0.0.1 for the tests, driven by the test's event loop (so it
// also serves a recorder started with QProcess). Subclasses decide the answers.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit FakeHttpServer(QObject *parent = nullptr);
    ~FakeHttpServer() override;

    // Listens on 127.0.0.1, on a free port unless one is given.
    bool listen(quint16 port = 0);
    void close();
    [[nodiscard]] quint16 port() const;
    // "http://127.0.0.1:PORT"
    [[nodiscard]] QString url() const;

    [[nodiscard]] QList<FakeHttpRequest> requests() const { return m_requests; }
    [[nodiscard]] QList<FakeHttpRequest> requests(const QString &path) const;
    void clearRequests() { m_requests.clear(); }

    // Answers every held request with its stored answer.
    void releaseHeldAnswers();
    [[nodiscard]] int heldAnswerCount() const { return m_held.size(); }
    // The held answers whose client still waits for them: it has not closed the connection.
    [[nodiscard]] int awaitedHeldAnswerCount() const;

Q_SIGNALS:
    void requestReceived(const FakeHttpRequest &request);

protected:
    virtual FakeHttpResponse respond(const FakeHttpRequest &request) = 0;

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    static void writeResponse(QTcpSocket *socket, const FakeHttpResponse &response);

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<FakeHttpRequest> m_requests;
    QList<QPair<QPointer<QTcpSocket>, FakeHttpResponse>> m_held;
};
