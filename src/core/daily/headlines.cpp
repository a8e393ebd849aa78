#include "dailycontext.h"

#include "platform/text.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

// The headlines: the news feed request, reading the item titles and choosing
// the headlines among them.
namespace orvik {

namespace {

// Titles containing one of these (in lower case) are no news of the day.
constexpr QStringView blockedHeadlineWords[] = {u"livestream", u"podcast",  u"audio",
                                                u"video",      u"liveblog", u"wetterbericht"};
constexpr qsizetype minHeadlineLength = 16;

} // namespace

QUrl DailyContextService::newsUrl() {
    return net::endpoint("ORVIK_NEWS_URL", QStringLiteral("https://www.tagesschau.de"),
                         QStringLiteral("/index~rss2.xml"));
}

QStringList DailyContextService::rssTitles(const QByteArray& body) {
    QStringList titles;
    bool insideItem = false;
    bool insideTitle = false;
    QString buffer;
    // Element names as written (qualifiedName): an item's "media:title" is no "title".
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (xml.qualifiedName() == u"item") {
                insideItem = true;
            } else if (xml.qualifiedName() == u"title" && insideItem) {
                insideTitle = true;
                buffer.clear();
            }
            break;
        case QXmlStreamReader::Characters:
            // Plain text, resolved entities and CDATA sections alike.
            if (insideTitle)
                buffer += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            if (xml.qualifiedName() == u"title" && insideTitle) {
                titles.append(buffer);
                insideTitle = false;
            } else if (xml.qualifiedName() == u"item") {
                insideItem = false;
            }
            break;
        default:
            break;
        }
    }
    // After a malformed stretch the titles completed before it stand.
    return titles;
}

QStringList DailyContextService::chooseHeadlines(const QStringList& titles, int limit) {
    static const QRegularExpression spaces(QStringLiteral("\\s+"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    QStringList chosen;
    if (limit < 1)
        return chosen;
    for (const QString& title : titles) {
        QString cleaned = title.trimmed();
        cleaned.replace(spaces, QStringLiteral(" "));
        if (cleaned.isEmpty() || text::graphemeCount(cleaned) < minHeadlineLength)
            continue;
        const QString lower = cleaned.toLower();
        if (std::any_of(std::begin(blockedHeadlineWords), std::end(blockedHeadlineWords),
                        [&](QStringView word) { return lower.contains(word); }))
            continue;
        if (chosen.contains(cleaned))
            continue;
        chosen.append(cleaned);
        if (chosen.size() == limit)
            break;
    }
    return chosen;
}

QFuture<QStringList> DailyContextService::fetchHeadlines(int limit, const net::Timeouts& limits) {
    if (limit < 1)
        return net::readyFuture(QStringList());
    return net::interpretOffThread(net::get(newsUrl(), limits, maxNewsBytes),
                                   [limit](const net::Response& response) {
                                       if (!response.isOk())
                                           return QStringList();
                                       return chooseHeadlines(rssTitles(response.body), limit);
                                   });
}

} // namespace orvik
