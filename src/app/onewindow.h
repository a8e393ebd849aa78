#pragma once

#include <QLockFile>
#include <QObject>
#include <QStringList>

// One window per library. Two windows on one library would each save their
// own text over the other's, so the first window of a library holds a lock
// file on it and answers on the session bus; a later start hands its files
// to that window and ends.
namespace orvik::app {

// The lock file of a library: in $XDG_RUNTIME_DIR, else in the cache folder.
QString lockPath(const QString& library);

// Takes the library's lock. A lock whose window is gone never blocks: Qt
// sees a killed window that its parent has not reaped yet as running, so
// such a lock is removed here. False while another window holds it.
bool lockLibrary(QLockFile& lock);

// The running window's side on the session bus: `Open(files)` under the bus
// name "de.orvik.Orvik".
class WindowHandover : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "de.orvik.Orvik")
public:
    explicit WindowHandover(const QString& library, QObject* parent = nullptr);
    // False without a session bus or when another window holds the name
    // (one for another library); the lock file still guards this library then.
    bool announce();

public Q_SLOTS:
    Q_SCRIPTABLE void Open(const QStringList& files);
    Q_SCRIPTABLE QString Library() const;

Q_SIGNALS:
    void openRequested(const QStringList& files);

private:
    QString m_library;
};

// Hands `files` (absolute paths) to the window on the session bus if it holds
// `library`; false when there is no bus or no such window answers.
bool handOver(const QString& library, const QStringList& files);

} // namespace orvik::app
