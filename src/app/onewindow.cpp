#include "onewindow.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace orvik::app {

namespace {

const QString serviceName = u"de.orvik.Orvik"_s;
const QString objectPath = u"/de/orvik/Orvik"_s;

// One spelling per folder, so that a link to the library or a trailing slash
// still finds its window.
QString canonical(const QString& library) {
    const QString real = QFileInfo(library).canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(QDir(library).absolutePath()) : real;
}

QDBusMessage call(const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(serviceName, objectPath, serviceName, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
}

} // namespace

QString lockPath(const QString& library) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(folder);
    const QByteArray key =
        QCryptographicHash::hash(canonical(library).toUtf8(), QCryptographicHash::Sha1).toHex();
    return folder + u"/orvik-"_s + QString::fromLatin1(key.left(20)) + u".lock"_s;
}

WindowHandover::WindowHandover(const QString& library, QObject* parent)
    : QObject(parent), m_library(canonical(library)) {}

bool WindowHandover::announce() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return false;
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(objectPath);
        return false;
    }
    return true;
}

void WindowHandover::Open(const QStringList& files) {
    Q_EMIT openRequested(files);
}

QString WindowHandover::Library() const {
    return m_library;
}

bool handOver(const QString& library, const QStringList& files) {
    if (!QDBusConnection::sessionBus().isConnected())
        return false;
    const QDBusReply<QString> held = call(u"Library"_s);
    if (!held.isValid() || held.value() != canonical(library))
        return false;
    return call(u"Open"_s, {files}).type() == QDBusMessage::ReplyMessage;
}

} // namespace orvik::app
