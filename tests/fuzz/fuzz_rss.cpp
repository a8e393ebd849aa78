// The news feed: item titles from whatever the server sends, and the
// headlines chosen among them.

#include "fuzzcheck.h"

#include "daily/dailycontext.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList titles =
        orvik::DailyContextService::rssTitles(orvik::fuzz::bytes(data, size));
    FUZZ_CHECK(titles.size() <= qsizetype(size));

    for (const int limit : {0, 1, 8}) {
        const QStringList chosen = orvik::DailyContextService::chooseHeadlines(titles, limit);
        FUZZ_CHECK(chosen.size() <= std::max(limit, 0));
        for (qsizetype i = 0; i < chosen.size(); ++i) {
            FUZZ_CHECK(chosen[i] == chosen[i].trimmed());
            FUZZ_CHECK(!chosen[i].contains(u'\n'));
            FUZZ_CHECK(chosen.indexOf(chosen[i]) == i);
        }
    }
    return 0;
}
