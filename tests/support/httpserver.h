#pragma once

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <type_traits>
#include <utility>

namespace orvik::test {

// A small HTTP/1.1 server on 127.0.0.1 for tests, living on the test's thread.
// Answers by path (404 for unknown paths), one request per connection, and
// records every request with its raw query. An answer can wait, stall, trickle
// its body, use chunked encoding, claim a length, or wait for other requests.
class HttpServer : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json; charset=utf-8";
        QList<std::pair<QByteArray, QByteArray>> headers;
        std::chrono::milliseconds delay{0};           // before the status line
        bool stall = false;                           // never answer; the connection stays open
        qsizetype trickleBytes = 0;                   // send the body in pieces of this size ...
        std::chrono::milliseconds trickleInterval{0}; // ... this far apart
        bool chunked = false;          // chunked transfer encoding instead of a length
        qsizetype declaredLength = -1; // Content-Length to claim instead of the body's
        int holdUntilRequests = 0;     // answer only once this many requests arrived
    };
    struct Request {
        QByteArray method;
        QString path;                          // decoded
        QString query;                         // as sent, without "?"
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    explicit HttpServer(QObject* parent = nullptr);

    QString baseUrl() const; // http://127.0.0.1:PORT
    QUrl url(const QString& pathAndQuery) const;

    void route(const QString& path, Reply reply);
    static Reply ok(const QByteArray& body, const QByteArray& contentType = "application/json");
    static Reply status(int code, const QByteArray& body = {});
    static Reply redirect(const QString& location, int code = 302);

    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(const QString& path) const;
    // Forgets routes and recorded requests.
    void clear();

Q_SIGNALS:
    void requestArrived();

private:
    struct Pending {
        QPointer<QTcpSocket> socket;
        Reply reply;
    };
    void accept();
    void readFrom(QTcpSocket* socket);
    void dispatch();
    void answer(QTcpSocket* socket, const Reply& reply);

    QTcpServer m_server;
    QHash<QString, Reply> m_routes;
    QList<Request> m_requests;
    QList<Pending> m_pending;
};

// Waits for a future while the event loop runs (so that a server in this
// thread can answer); fails hard when it does not finish within `timeoutMs`.
template <typename T> T await(QFuture<T> future, int timeoutMs = 30000) {
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, timeoutMs))
        qFatal("a future did not finish in time");
    if constexpr (!std::is_void_v<T>)
        return future.result();
}

} // namespace orvik::test

Q_DECLARE_METATYPE(orvik::test::HttpServer::Reply)
