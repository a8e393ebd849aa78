#pragma once

#include "store/librarystore.h"

#include <QList>
#include <QPromise>
#include <QString>

#include <memory>

namespace orvik::test {

// Options for a store on a temporary library: short delays, no backup
// schedule, and a daily context that the test hands out itself through
// `contexts` (one promise per diary entry, in the order they were asked for).
struct StoreFixture {
    QList<std::shared_ptr<QPromise<QString>>> contexts;

    LibraryStore::Options options(const QString& folder, int saveDelayMs) {
        LibraryStore::Options o;
        o.root = folder + QStringLiteral("/Orvik");
        o.backupRoot = folder + QStringLiteral("/Backups");
        o.saveDelayMs = saveDelayMs;
        o.backupSchedule = false;
        o.listInBackground = false;
        o.dailyContext = [this] {
            auto promise = std::make_shared<QPromise<QString>>();
            promise->start();
            contexts.append(promise);
            return promise->future();
        };
        return o;
    }
};

} // namespace orvik::test
