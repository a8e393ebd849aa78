#include "httpserver.h"

#include <QTimer>

namespace orvik::test {

namespace {

QByteArray chunk(const QByteArray& piece) {
    return QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
}

} // namespace

HttpServer::HttpServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("test HTTP server cannot listen: %s", qPrintable(m_server.errorString()));
}

QString HttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

QUrl HttpServer::url(const QString& pathAndQuery) const {
    return QUrl(baseUrl() + pathAndQuery);
}

void HttpServer::route(const QString& path, Reply reply) {
    m_routes.insert(path, std::move(reply));
}

HttpServer::Reply HttpServer::ok(const QByteArray& body, const QByteArray& contentType) {
    Reply r;
    r.body = body;
    r.contentType = contentType;
    return r;
}

HttpServer::Reply HttpServer::status(int code, const QByteArray& body) {
    Reply r;
    r.status = code;
    r.body = body;
    return r;
}

HttpServer::Reply HttpServer::redirect(const QString& location, int code) {
    Reply r = status(code);
    r.headers.append({"Location", location.toUtf8()});
    return r;
}

QList<HttpServer::Request> HttpServer::requests(const QString& path) const {
    QList<Request> list = m_requests;
    list.removeIf([&](const Request& r) { return r.path != path; });
    return list;
}

void HttpServer::clear() {
    m_routes.clear();
    m_requests.clear();
    m_pending.clear();
}

void HttpServer::accept() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpServer::readFrom(QTcpSocket* socket) {
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("answered", true);
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.indexOf('?');
    Request request;
    request.method = requestLine.value(0);
    request.path = QUrl::fromPercentEncoding(question < 0 ? target : target.left(question));
    request.query = question < 0 ? QString() : QString::fromLatin1(target.mid(question + 1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    m_requests.append(request);
    m_pending.append({socket, m_routes.value(request.path, status(404, "not found"))});
    Q_EMIT requestArrived();
    dispatch();
}

void HttpServer::dispatch() {
    for (qsizetype i = 0; i < m_pending.size();) {
        const Pending p = m_pending[i];
        if (p.reply.holdUntilRequests > m_requests.size()) {
            ++i;
            continue;
        }
        m_pending.removeAt(i);
        if (!p.socket || p.reply.stall)
            continue;
        QTimer::singleShot(p.reply.delay, p.socket.data(),
                           [this, socket = p.socket, reply = p.reply] {
                               if (socket)
                                   answer(socket, reply);
                           });
    }
}

void HttpServer::answer(QTcpSocket* socket, const Reply& reply) {
    // Clients read the status code, not the reason phrase.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) +
                      (reply.status == 200 ? " OK" : " Status") + "\r\nConnection: close\r\n";
    if (!reply.contentType.isEmpty())
        head += "Content-Type: " + reply.contentType + "\r\n";
    if (reply.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " +
                QByteArray::number(reply.declaredLength >= 0 ? reply.declaredLength
                                                             : reply.body.size()) +
                "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n");

    const auto piece = [chunked = reply.chunked](const QByteArray& bytes) {
        return chunked ? chunk(bytes) : bytes;
    };
    const auto finish = [socket, chunked = reply.chunked] {
        if (chunked)
            socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
    };
    if (reply.trickleBytes <= 0) {
        if (!reply.body.isEmpty())
            socket->write(piece(reply.body));
        finish();
        return;
    }
    auto* timer = new QTimer(socket);
    auto offset = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [=] {
        const QByteArray bytes = reply.body.mid(*offset, reply.trickleBytes);
        *offset += bytes.size();
        if (!bytes.isEmpty())
            socket->write(piece(bytes));
        if (*offset >= reply.body.size()) {
            timer->stop();
            finish();
        }
    });
    timer->start(reply.trickleInterval);
}

} // namespace orvik::test
