#include "onewindow.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

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

namespace {

// Whether the lock's window was killed and is not reaped yet, which Qt takes
// for a running process.
bool heldByZombie(const QLockFile& lock) {
    qint64 pid = 0;
    QString host;
    QString app;
    if (!lock.getLockInfo(&pid, &host, &app) || host != QSysInfo::machineHostName())
        return false;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    // The state follows the parenthesised name.
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.mid(close + 2, 1) == "Z";
}

} // namespace

bool lockLibrary(QLockFile& lock) {
    lock.setStaleLockTime(0); // the age of a lock says nothing: only its window's life
    // A window just killed keeps its files until its last thread is gone.
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (lock.tryLock(0))
            return true;
        if (lock.error() != QLockFile::LockFailedError)
            return true; // no lock can be made here at all: a window is better than none
        if (!heldByZombie(lock))
            return false;
        lock.removeStaleLockFile();
        QThread::msleep(100);
    }
    return lock.tryLock(0);
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
