#pragma once

#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace orvik::test {

// What one run of a program left: a crash or a hang is code -1.
struct Run {
    int code = -1;
    QByteArray out;
    QString err;
    QString text() const { return QString::fromUtf8(out); }
    QJsonValue json() const {
        const QJsonDocument doc = QJsonDocument::fromJson(out);
        return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    }
    QJsonValue operator[](const QString& key) const { return json()[key]; }
    // `key` of every object in an answer that is a JSON array.
    QStringList field(const QString& key) const {
        QStringList list;
        for (const QJsonValue& v : json().toArray())
            list.append(v[key].toVariant().toString());
        return list;
    }
};

// Runs `command` (the program first) in `home` while the event loop turns, so
// that a server of the test can answer.
inline Run run(QStringList command, const QString& home, const QProcessEnvironment& env = {}) {
    QProcess p;
    p.setProcessEnvironment(env.isEmpty() ? environmentWithHome(home) : env);
    p.setWorkingDirectory(home);
    const QString what = command.join(u' ');
    p.start(command.takeFirst(), command);
    if (!p.waitForStarted(10000) ||
        !QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 240000)) {
        p.kill();
        p.waitForFinished();
        qWarning("did not finish: %s", qPrintable(what));
        return {};
    }
    Run r{p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
    if (p.exitStatus() != QProcess::NormalExit) {
        qWarning("crashed: %s: %s", qPrintable(what), qPrintable(r.err));
        r.code = -1;
    }
    return r;
}

} // namespace orvik::test
