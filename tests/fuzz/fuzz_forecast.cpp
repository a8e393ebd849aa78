// The weather line from a forecast answer of any shape.

#include "fuzzcheck.h"

#include "daily/dailycontext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString place = QStringLiteral("Schwülper");
    const auto line =
        orvik::DailyContextService::weatherLine(orvik::fuzz::bytes(data, size), place);
    if (line) {
        FUZZ_CHECK(line->startsWith(place + QStringLiteral(" \u00B7 ")));
        FUZZ_CHECK(!line->contains(u'\n'));
        FUZZ_CHECK(!line->contains(QStringLiteral("nan"), Qt::CaseInsensitive));
    }
    return 0;
}
