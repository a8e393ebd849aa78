#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <ftw.h>
#include <stdio.h>

namespace orvik::test {

QString isolateHome() {
    // Lives until the process ends; removed by QTemporaryDir's destructor at exit.
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/orvik-test-home-XXXXXX"));
    const QString root = home.path();
    const auto set = [&](const char* name, const QString& sub) {
        const QString path = sub.isEmpty() ? root : root + QLatin1Char('/') + sub;
        QDir().mkpath(path);
        ::setenv(name, QFile::encodeName(path).constData(), 1);
    };
    set("HOME", {});
    set("XDG_CONFIG_HOME", QStringLiteral(".config"));
    set("XDG_DATA_HOME", QStringLiteral(".local/share"));
    set("XDG_CACHE_HOME", QStringLiteral(".cache"));
    set("XDG_STATE_HOME", QStringLiteral(".local/state"));
    set("XDG_RUNTIME_DIR", QStringLiteral(".runtime"));
    QFile::setPermissions(root + QStringLiteral("/.runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ::unsetenv("XDG_DOCUMENTS_DIR");
    return root;
}

QProcessEnvironment environmentWithHome(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    return env;
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool setModified(const QString& path, const QDateTime& when) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    return f.setFileTime(when, QFileDevice::FileModificationTime);
}

void removeTree(const QString& path) {
    ::nftw(
        QFile::encodeName(path).constData(),
        [](const char* name, const struct stat*, int, struct FTW*) { return ::remove(name); }, 32,
        FTW_DEPTH | FTW_PHYS);
}

} // namespace orvik::test
