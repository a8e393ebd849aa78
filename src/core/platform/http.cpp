#include "http.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace orvik::net {

namespace {

// Takes no cookie and hands none out.
class NoCookies : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

thread_local QPointer<QNetworkAccessManager> manager;

QNetworkAccessManager* threadSession() {
    if (!manager) {
        manager = new QNetworkAccessManager;
        manager->setCookieJar(new NoCookies(manager));
        manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        QThread* thread = QThread::currentThread();
        QCoreApplication* app = QCoreApplication::instance();
        if (app && app->thread() == thread)
            manager->setParent(app);
        else
            QObject::connect(thread, &QThread::finished, manager, &QObject::deleteLater);
    }
    return manager;
}

// Errors of the connection and proxy layers. The others (content, protocol and
// server errors) are what Qt derives from an HTTP error status, or a fault in
// the middle of a body.
bool isTransportError(QNetworkReply::NetworkError e) {
    return e > 0 && e < 200;
}

} // namespace

QObject* session() {
    return threadSession();
}

void endSession() {
    if (!manager)
        return;
    // Replies ask for their deletion when they finish; the loop that would
    // have seen to it has usually ended by now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete manager;
    // What the network thread handed back on its way out.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QFuture<Response> get(const QUrl& url, const Timeouts& timeouts, qint64 maxBodyBytes) {
    if (url.isEmpty() || !url.isValid() || url.isRelative())
        return readyFuture(Response{});

    QNetworkRequest request(url);
    request.setTransferTimeout(int(timeouts.inactivity.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);

    struct State {
        QPromise<Response> promise;
        QByteArray body;
        bool tooLarge = false;
        bool overTime = false;
    };
    auto state = std::make_shared<State>();
    state->promise.start();
    QFuture<Response> future = state->promise.future();

    QNetworkReply* reply = threadSession()->get(request);
    // Qt stops reading from the connection while this much waits unread, so a
    // busy thread never piles up more than that beyond the limit.
    reply->setReadBufferSize(std::min<qint64>(maxBodyBytes + 1, 256 * 1024));
    const auto abortWith = [reply, state](bool State::*flag) {
        if (reply->isFinished())
            return;
        state.get()->*flag = true;
        reply->abort(); // emits finished
    };
    // Takes what arrived so far; false when that breaks the limit.
    const auto take = [reply, state, maxBodyBytes] {
        const QByteArray chunk = reply->readAll();
        if (state->body.size() + chunk.size() > maxBodyBytes)
            return false;
        state->body += chunk;
        return true;
    };

    auto* whole = new QTimer(reply);
    whole->setSingleShot(true);
    QObject::connect(whole, &QTimer::timeout, reply, [=] { abortWith(&State::overTime); });
    whole->start(timeouts.total);

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [=] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 300 && status < 400)
            return; // a redirect's own body is never read
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBodyBytes)
            abortWith(&State::tooLarge);
    });
    QObject::connect(reply, &QIODevice::readyRead, reply, [=] {
        if (!reply->isFinished() && !take())
            abortWith(&State::tooLarge);
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [=] {
        Response response;
        response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QNetworkReply::NetworkError error = reply->error();
        if (state->tooLarge) {
            response.outcome = Response::Outcome::TooLarge;
        } else if (state->overTime || error == QNetworkReply::OperationCanceledError ||
                   error == QNetworkReply::TimeoutError) {
            // Our own timer, or the request's inactivity time-out (which also cancels).
            response.outcome = Response::Outcome::TimedOut;
        } else if (error == QNetworkReply::NoError ||
                   (response.status >= 300 && !isTransportError(error))) {
            // An answer, possibly with an error status that Qt reports as an error.
            if (take()) {
                response.outcome = Response::Outcome::Completed;
                response.body = std::move(state->body);
            } else {
                response.outcome = Response::Outcome::TooLarge;
            }
        }
        state->promise.addResult(std::move(response));
        state->promise.finish();
        reply->deleteLater();
    });
    return future;
}

QUrl endpoint(const char* variable, const QString& defaultBase, const QString& path) {
    const QString configured = qEnvironmentVariable(variable);
    QUrl url(configured.isEmpty() ? defaultBase : configured, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return {};
    QString basePath = url.path();
    while (basePath.endsWith(u'/'))
        basePath.chop(1);
    url.setPath(basePath + path);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace orvik::net
