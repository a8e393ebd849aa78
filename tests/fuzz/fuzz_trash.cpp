// The trash index as read from disk: decoding never crashes, and whatever
// decodes survives a round trip through the encoder unchanged.

#include "fuzzcheck.h"

#include "safekeeping/trash.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto entries = orvik::Trash::decodeIndex(orvik::fuzz::bytes(data, size));
    if (!entries)
        return 0;
    const QByteArray encoded = orvik::Trash::encodeIndex(*entries);
    const auto again = orvik::Trash::decodeIndex(encoded);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->size() == entries->size());
    for (qsizetype i = 0; i < entries->size(); ++i) {
        const orvik::Trash::Entry& e = entries->at(i);
        const orvik::Trash::Entry& f = again->at(i);
        FUZZ_CHECK(e.fileName == f.fileName);
        FUZZ_CHECK(e.originalFolder == f.originalFolder);
        FUZZ_CHECK(e.originalName == f.originalName);
        // Dates go through seconds as a double; a millisecond may round. Far
        // outside the years a calendar shows, the double runs out of digits.
        const int year = e.deletedAt.date().year();
        if (e.deletedAt.isValid() && year >= 1 && year <= 9999)
            FUZZ_CHECK(std::abs(e.deletedAt.msecsTo(f.deletedAt)) <= 1);
    }
    return 0;
}
