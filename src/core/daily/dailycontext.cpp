#include "dailycontext.h"

#include <QPromise>

#include <memory>

namespace orvik {

QString DailyContext::markdownBlock() const {
    QStringList lines{QStringLiteral("---"), QString()};
    if (weather)
        lines.append(u'*' + *weather + u'*');
    if (!headlines.isEmpty()) {
        if (weather)
            lines.append(QString());
        lines.append(QStringLiteral("*Tagesschau:*"));
        for (const QString& headline : headlines)
            lines.append(QStringLiteral("*\u2013 ") + headline + u'*');
    }
    return lines.join(u'\n');
}

QFuture<DailyContext> DailyContextService::fetch(const DailySettings& settings,
                                                 const net::Timeouts& limits) {
    if (!settings.includeWeather && !settings.includeNews)
        return net::readyFuture(DailyContext());

    // Both requests start before either is awaited; the context is handed on
    // when the slower one has finished.
    struct Join {
        QPromise<DailyContext> promise;
        DailyContext context;
        int pending = 0;
        void arrived() {
            if (--pending > 0)
                return;
            promise.addResult(context);
            promise.finish();
        }
    };
    auto join = std::make_shared<Join>();
    join->pending = int(settings.includeWeather) + int(settings.includeNews);
    join->promise.start();
    QFuture<DailyContext> future = join->promise.future();

    QObject* home = net::session();
    if (settings.includeWeather)
        fetchWeather(settings, limits).then(home, [join](const std::optional<QString>& weather) {
            join->context.weather = weather;
            join->arrived();
        });
    if (settings.includeNews)
        fetchHeadlines(settings.headlineCount, limits)
            .then(home, [join](const QStringList& headlines) {
                join->context.headlines = headlines;
                join->arrived();
            });
    return future;
}

} // namespace orvik
