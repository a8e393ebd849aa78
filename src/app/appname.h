#pragma once

#include <QCoreApplication>

namespace orvik::app {

inline void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Orvik"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
}

} // namespace orvik::app
