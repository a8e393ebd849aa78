#include "command.h"

#include "search/searchengine.h"
#include "search/searchindex.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace Qt::StringLiterals;

// The search: a command of its own, since `orvik search` runs in a program
// that loads nothing else, so that it answers as fast as a search can.
namespace orvik::cli {

namespace {

int cmdSearch(const Context& c) {
    const QString query = c.argument(0);
    const std::optional<QString> groupName = c.option(u"--group"_s);
    QList<QUrl> folders;
    if (groupName) {
        const auto group = c.group(*groupName);
        if (!group)
            return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(*groupName)));
        if (group->kind == Folder::Kind::Trash && c.trash.obstacle())
            return trashFailure(c, QString());
        folders.append(group->url);
    } else {
        for (const Folder& g : c.groups())
            if (g.kind != Folder::Kind::Trash)
                folders.append(g.url);
    }
    SearchEngine engine;
    engine.useIndex(search::SearchIndex::pathFor(c.root), SearchEngine::IndexWrites::ByCaller);
    const QList<SearchHit> hits = engine.search(query, folders).result();
    if (c.json()) {
        QJsonArray array;
        for (const SearchHit& h : hits)
            array.append(QJsonObject{{u"path"_s, h.sheet.path()},
                                     {u"title"_s, h.sheet.title},
                                     {u"snippet"_s, h.snippet},
                                     {u"count"_s, h.count},
                                     {u"modified"_s, isoDate(h.sheet.modified)}});
        c.print(QJsonDocument(array));
    } else {
        if (hits.isEmpty())
            c.out << "Keine Treffer.\n";
        for (const SearchHit& h : hits) {
            c.out << h.sheet.title << " – " << h.count
                  << (h.count == 1 ? " Fundstelle" : " Fundstellen") << '\n'
                  << "  " << h.snippet << '\n'
                  << "  " << h.sheet.path() << '\n';
        }
    }
    // The answer first; the index follows in a process of its own.
    c.out.flush();
    engine.writeIndexDetached();
    return Success;
}

} // namespace

Command searchCommand() {
    return {u"search"_s,
            u"search SUCHE [--group GRUPPE]"_s,
            u"Volltextsuche; ohne --group in allen Gruppen außer dem Papierkorb"_s,
            1,
            1,
            {u"--group"_s},
            true,
            cmdSearch};
}

} // namespace orvik::cli
