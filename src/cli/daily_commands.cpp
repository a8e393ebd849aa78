#include "command.h"

#include "daily/dailycontext.h"
#include "daily/geocoder.h"
#include "library/template.h"
#include "updates/updatechecker.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonObject>

using namespace Qt::StringLiterals;

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
            QJsonObject{{u"weather"_s, context.weather ? QJsonValue(*context.weather)
                                                       : QJsonValue(QJsonValue::Null)},
                        {u"headlines"_s, headlines}}));
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
            array.append(QJsonObject{{u"name"_s, p.name},
                                     {u"region"_s, p.region},
                                     {u"latitude"_s, p.latitude},
                                     {u"longitude"_s, p.longitude},
                                     {u"id"_s, p.id()}});
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
            o.insert(u"result"_s, u"available"_s);
            o.insert(u"version"_s, u.version.raw);
            if (u.date)
                o.insert(u"date"_s, *u.date);
            o.insert(u"notes"_s, QJsonArray::fromStringList(u.notes));
            o.insert(u"downloadURL"_s, u.downloadURL.toString());
            break;
        }
        case Kind::UpToDate:
            o.insert(u"result"_s, u"upToDate"_s);
            break;
        case Kind::Failed:
            o.insert(u"result"_s, u"failed"_s);
            o.insert(u"message"_s, result.message);
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
        {u"context"_s,
         u"context"_s,
         u"Wetter und Schlagzeilen für den Tagebucheintrag holen"_s,
         0,
         0,
         {},
         false,
         cmdContext},
        {u"places"_s, u"places ORT"_s, u"Orte für das Wetter suchen"_s, 1, 1, {}, false, cmdPlaces},
        {u"check-update"_s,
         u"check-update"_s,
         u"Nach einer neueren Fassung suchen"_s,
         0,
         0,
         {},
         false,
         cmdCheckUpdate},
    };
}

} // namespace orvik::cli
