#pragma once

#include <QByteArray>
#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <type_traits>

// One small HTTP GET over the calling thread's network session, with a bound
// on silence, on the whole transfer and on the body size.
namespace orvik::net {

struct Timeouts {
    std::chrono::milliseconds inactivity; // no data for this long aborts
    std::chrono::milliseconds total;      // the whole transfer, redirects included
    friend bool operator==(const Timeouts&, const Timeouts&) = default;
};

struct Response {
    enum class Outcome {
        Completed, // an answer arrived; `status` tells whether it was HTTP
        Failed,    // no usable answer: no URL, refused, name not found, TLS, cut off, ...
        TimedOut,  // inactivity or total time-out
        TooLarge,  // the body grew beyond the limit; `status` is kept
    };
    Outcome outcome = Outcome::Failed;
    int status = 0;  // HTTP status code; 0 when the answer was not HTTP
    QByteArray body; // only when Completed

    bool isOk() const { return outcome == Outcome::Completed && status == 200; }
};

// The calling thread's network session: no cookies, cache or credentials are
// kept, redirects are followed unless they lead from https to http. It lives
// as long as the thread (the application, for the main thread).
QObject* session();

// Ends the calling thread's session, if it has one, before a short-lived
// process exits: finished replies are deleted and the network thread is let
// go of while an event loop can still see to both, so that nothing of the
// session is left half torn down at exit. The next request opens a new one.
void endSession();

// Starts a GET of `url` on the calling thread's session; the future finishes on
// that thread's event loop. A URL that is empty or not valid fails at once.
QFuture<Response> get(const QUrl& url, const Timeouts& timeouts, qint64 maxBodyBytes);

// `base` with `path` appended to its path. `base` is the environment variable's
// value when it is set and not empty, otherwise `defaultBase`. Invalid when the
// base is not an absolute URL.
QUrl endpoint(const char* variable, const QString& defaultBase, const QString& path);

template <typename T> QFuture<T> readyFuture(T value) {
    QPromise<T> promise;
    QFuture<T> future = promise.future();
    promise.start();
    promise.addResult(std::move(value));
    promise.finish();
    return future;
}

// Runs `interpret(Response)` on the global thread pool (decoding a capped but
// possibly large body off the calling thread) and hands its result back on the
// calling thread.
template <typename F>
auto interpretOffThread(QFuture<Response> response, F interpret)
    -> QFuture<std::invoke_result_t<F, Response>> {
    using T = std::invoke_result_t<F, Response>;
    return response.then(QtFuture::Launch::Async, std::move(interpret))
        .then(session(), [](T value) { return value; });
}

} // namespace orvik::net
