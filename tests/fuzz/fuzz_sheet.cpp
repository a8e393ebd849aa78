// A sheet's title, preview and word count from arbitrary file contents.

#include "fuzzcheck.h"

#include "library/sheet.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = orvik::fuzz::text(data, size);
    const QString fallback = QStringLiteral("Ohne Titel");

    const QString title = orvik::Sheet::deriveTitle(text, fallback);
    FUZZ_CHECK(!title.isEmpty());
    FUZZ_CHECK(orvik::text::graphemeCount(title) <= 120);

    const QString preview = orvik::Sheet::derivePreview(text);
    FUZZ_CHECK(!preview.isEmpty());
    FUZZ_CHECK(orvik::text::graphemeCount(preview) <= 160);

    const int words = orvik::Sheet::countWords(text);
    FUZZ_CHECK(words >= 0);
    FUZZ_CHECK(words <= (text.size() + 1) / 2 + 1);
    // A word is a run without separators, so an empty text has none and
    // appending a separator adds none.
    FUZZ_CHECK(!text.isEmpty() || words == 0);
    FUZZ_CHECK(orvik::Sheet::countWords(text + u' ') == words);
    return 0;
}
