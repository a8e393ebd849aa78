#include "command.h"

#include "daily/dailycontext.h"
#include "daily/geocoder.h"
#include "library/template.h"
#include "updates/updatechecker.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonObject>

// The commands over the network: the daily context, the place lookup and the
// update check. They use no library.
namespace orvik::cli {

namespace {

// Runs a local event loop until the future has finished: the network answers
// arrive on this thread.
template <typename T> T wait(QFuture<T> future) {
    if (!future.isFinished()) {
        QEventLoop loop;
        QFutureWatcher<T> watcher;
        QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(future);
        if (!future.isFinished())
            loop.exec();
    }
    return future.result();
}

int cmdContext(const Context& c) {
    const DailyContext context = wait(DailyContextService::fetch(DailySettings::current()));
    if (c.json()) {
        QJsonArray headlines;
        for (const QString& h : context.headlines)
            headlines.append(h);
        c.print(QJsonDocument(
            QJsonObject{{u"weather"_qs, context.weather ? QJsonValue(*context.weather)
                                                        : QJsonValue(QJsonValue::Null)},
                        {u"headlines"_qs, headlines}}));
        return Success;
    }
    c.out << (context.isEmpty() ? dailytext::fallbackBlock() : context.markdownBlock()) << '\n';
    return Success;
}

int cmdPlaces(const Context& c) {
    const QList<GeoResult> places = wait(Geocoder::search(c.argument(0)));
    if (c.json()) {
        QJsonArray array;
        for (const GeoResult& p : places)
            array.append(QJsonObject{{u"name"_qs, p.name},
                                     {u"region"_qs, p.region},
                                     {u"latitude"_qs, p.latitude},
                                     {u"longitude"_qs, p.longitude},
                                     {u"id"_qs, p.id()}});
        c.print(QJsonDocument(array));
        return Success;
    }
    if (places.isEmpty())
        c.out << "Kein Ort gefunden. Versuch es mit einem größeren Ort in der Nähe.\n";
    for (const GeoResult& p : places) {
        c.out << p.name << '\n';
        if (!p.region.isEmpty())
            c.out << "  " << p.region << '\n';
        c.out << "  " << p.id() << '\n';
    }
    return Success;
}

int cmdCheckUpdate(const Context& c) {
    const UpdateCheckResult result = wait(UpdateChecker::check());
    using Kind = UpdateCheckResult::Kind;
    if (c.json()) {
        QJsonObject o;
        switch (result.kind) {
        case Kind::Available: {
            const AvailableUpdate& u = *result.update;
            o.insert(u"result"_qs, u"available"_qs);
            o.insert(u"version"_qs, u.version.raw);
            if (u.date)
                o.insert(u"date"_qs, *u.date);
            o.insert(u"notes"_qs, QJsonArray::fromStringList(u.notes));
            o.insert(u"downloadURL"_qs, u.downloadURL.toString());
            break;
        }
        case Kind::UpToDate:
            o.insert(u"result"_qs, u"upToDate"_qs);
            break;
        case Kind::Failed:
            o.insert(u"result"_qs, u"failed"_qs);
            o.insert(u"message"_qs, result.message);
            break;
        }
        c.print(QJsonDocument(o));
        return Success;
    }
    switch (result.kind) {
    case Kind::Available: {
        const AvailableUpdate& u = *result.update;
        // Title and subtitle as the update sheet shows them.
        c.out << "Orvik " << u.version.raw << " ist verfügbar\n"
              << "Du hast " << u.current.raw;
        if (u.date && !u.date->isEmpty())
            c.out << " \u00B7 erschienen " << *u.date;
        c.out << '\n';
        for (const QString& note : u.notes)
            c.out << "  \u00B7 " << note << '\n';
        c.out << "Laden: " << u.downloadURL.toString() << '\n';
        break;
    }
    case Kind::UpToDate:
        c.out << "Du hast die neueste Fassung.\n";
        break;
    case Kind::Failed:
        c.out << result.message << '\n';
        break;
    }
    return Success;
}

} // namespace

QList<Command> dailyCommands() {
    return {
        {u"context"_qs,
         u"context"_qs,
         u"Wetter und Schlagzeilen für den Tagebucheintrag holen"_qs,
         0,
         0,
         {},
         false,
         cmdContext},
        {u"places"_qs,
         u"places ORT"_qs,
         u"Orte für das Wetter suchen"_qs,
         1,
         1,
         {},
         false,
         cmdPlaces},
        {u"check-update"_qs,
         u"check-update"_qs,
         u"Nach einer neueren Fassung suchen"_qs,
         0,
         0,
         {},
         false,
         cmdCheckUpdate},
    };
}

} // namespace orvik::cli
