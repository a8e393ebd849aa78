#include "platform/timezone.h"

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

namespace orvik::platform {

void pinSystemTimeZone() {
    if (qEnvironmentVariableIsSet("TZ"))
        return;
    qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
    ::tzset();
}

} // namespace orvik::platform
