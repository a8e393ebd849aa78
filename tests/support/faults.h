#pragma once

// Writes that fail for real: read-only files and folders, a full disk. Root
// ignores file modes, so as root the subject runs as nobody, or the fault
// comes from a mount, which binds root too.

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/mount.h>
#include <unistd.h>

namespace orvik::test {

inline constexpr uid_t unprivilegedId = 65534; // nobody

inline bool isRoot() {
    return ::geteuid() == 0;
}

// As root, gives the tree to nobody, so that its file modes bind whoever runs as nobody.
inline bool handOver(const QString& path) {
    if (!isRoot())
        return true;
    const auto give = [](const QString& p) {
        return ::lchown(QFile::encodeName(p).constData(), unprivilegedId, unprivilegedId) == 0;
    };
    bool ok = give(path);
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = give(it.next()) && ok;
    return ok;
}

// The command line (program first) that runs `program` as nobody when we are root.
inline QStringList unprivileged(const QString& program, const QStringList& args) {
    if (!isRoot())
        return QStringList{program} + args;
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                       QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), program} +
           args;
}

// Sets the mode of every folder and file below `path` (and of `path`).
inline bool setTreeWritable(const QString& path, bool writable) {
    const auto mode = [&](const QFileInfo& info) {
        QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                     QFileDevice::ReadOther | QFileDevice::ReadUser;
        if (info.isDir())
            p |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther |
                 QFileDevice::ExeUser;
        if (writable)
            p |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
        return p;
    };
    bool ok = QFile::setPermissions(path, mode(QFileInfo(path)));
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        ok = QFile::setPermissions(p, mode(QFileInfo(p))) && ok;
    }
    return ok;
}

// A tmpfs of `bytes` mounted at `path` while the object lives; needs the
// right to mount (root outside a restricted container).
class SmallDisk {
public:
    SmallDisk(const QString& path, qint64 bytes) : m_path(QFile::encodeName(path)) {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
        m_mounted = ::mount("tmpfs", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                            options.constData()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

// Whether `unshare -rm` gives an unprivileged user its own mounts here.
inline bool canUnshareMounts() {
    QProcess p;
    p.start(QStringLiteral("unshare"), {QStringLiteral("-rm"), QStringLiteral("true")});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Writes into a new file at `path` until the file system is full; the bytes written.
inline qint64 fillDisk(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return -1;
    // tmpfs hands out whole pages: page-sized writes fill it to the last byte.
    const QByteArray block(4096, 'x');
    qint64 total = 0;
    while (file.write(block) == block.size())
        total += block.size();
    return total;
}

} // namespace orvik::test
