// The update feed document and the version numbers in it.

#include "fuzzcheck.h"

#include "updates/appcast.h"

namespace {

using orvik::AppVersion;

// lessThan must be a strict weak ordering, or sorting and comparing offers breaks.
void checkOrder(const AppVersion& a, const AppVersion& b) {
    FUZZ_CHECK(!AppVersion::lessThan(a, a));
    FUZZ_CHECK(!(AppVersion::lessThan(a, b) && AppVersion::lessThan(b, a)));
    const bool equal = a == b;
    FUZZ_CHECK(equal == (b == a));
    FUZZ_CHECK(equal == ((a <=> b) == 0));
    for (const qint64 part : a.parts)
        FUZZ_CHECK(part >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = orvik::fuzz::bytes(data, size);
    if (const auto cast = orvik::Appcast::fromJson(body)) {
        const AppVersion offered(cast->version);
        checkOrder(offered, AppVersion(QStringLiteral("0.1.0")));
        // The display form has no surrounding spaces or tabs.
        for (const QChar blank : {u' ', u'\t'})
            FUZZ_CHECK(!offered.raw.startsWith(blank) && !offered.raw.endsWith(blank));
    }

    // Two versions from the raw bytes, split at the first line break.
    const qsizetype split = body.indexOf('\n');
    const QString first = QString::fromUtf8(split < 0 ? body : body.left(split));
    const QString second = QString::fromUtf8(split < 0 ? QByteArray() : body.mid(split + 1));
    const AppVersion a(first);
    const AppVersion b(second);
    checkOrder(a, b);
    checkOrder(b, a);
    // 1.2 equals 1.2.0: trailing zero pieces never change the order.
    FUZZ_CHECK(AppVersion(a.raw + QStringLiteral(".0")) == a || a.raw.isEmpty());
    return 0;
}
