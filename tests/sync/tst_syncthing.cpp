#include "../cli/orvikrun.h"
#include "platform/files.h"
#include "safekeeping/trash.h"
#include "storefixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>
#include <signal.h>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;
using namespace orvik;
using orvik::test::Run;

Q_DECLARE_METATYPE(orvik::ExternalChange)

namespace {

const QString folderId = u"orvik-bibliothek"_s;

// One Syncthing of the two, with its home, ports and log in the test's folder.
struct Device {
    QString name;
    QString home;    // its configuration, keys and database
    QString library; // the shared folder: a library of Orvik
    QString id;
    quint16 listenPort = 0;
    quint16 guiPort = 0;
    QString apiKey;
    std::unique_ptr<QProcess> process;
    QString log() const { return home + u"/syncthing.log"_s; }
};

// Ports nobody listens on now, all different.
QList<quint16> freePorts(int count) {
    std::vector<std::unique_ptr<QTcpServer>> servers;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(QHostAddress::LocalHost))
            return {};
        ports.append(server->serverPort());
        servers.push_back(std::move(server));
    }
    return ports;
}

// Every sheet file's text in a library, trash included.
QSet<QByteArray> texts(const QString& library) {
    QSet<QByteArray> found;
    QDirIterator it(library, {u"*.md"_s}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        found.insert(test::readBytes(it.next()));
    }
    return found;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

} // namespace

// Two Syncthing instances on loopback keep two libraries A and B of one
// library in step; a store runs on A as the window would, the command line
// works on either.
class TestSyncthing : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    Device m_a;
    Device m_b;
    QNetworkAccessManager m_net;
    test::StoreFixture m_fixture;
    std::unique_ptr<LibraryStore> m_store; // on A
    // The last text each device wrote into each sheet, by device and path:
    // a writer's own edit replaces the text it was made from, nothing else may.
    QHash<QString, QByteArray> m_written;
    // Set when the instances are up, and by the first failure: then what
    // Syncthing logged is shown, as the folder with the logs goes at the end.
    bool m_ready = false;
    bool m_failed = false;

    QString at(const Device& d, const QString& relative) const {
        return d.library + u'/' + relative;
    }

    Run orvik(const Device& d, const QStringList& args) {
        return test::run(
            QStringList{QStringLiteral(ORVIK_BINARY), u"--library"_s, d.library} + args, d.home);
    }

    // The answer of Syncthing's REST API, or nothing on an error.
    std::optional<QJsonDocument> rest(const Device& d, const QByteArray& verb, const QString& path,
                                      const QByteArray& body = {}) {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(d.guiPort).arg(path)));
        request.setRawHeader("X-API-Key", d.apiKey.toLatin1());
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
        request.setTransferTimeout(20000);
        std::unique_ptr<QNetworkReply> reply(m_net.sendCustomRequest(request, verb, body));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 25000) ||
            reply->error() != QNetworkReply::NoError)
            return std::nullopt;
        const QByteArray bytes = reply->readAll();
        return bytes.isEmpty() ? QJsonDocument(QJsonObject()) : QJsonDocument::fromJson(bytes);
    }
    QJsonObject get(const Device& d, const QString& path) {
        return rest(d, "GET", path).value_or(QJsonDocument()).object();
    }

    bool prepare(Device& d, const QString& name) {
        d.name = name;
        d.home = m_dir.filePath(u"syncthing-"_s + name);
        d.library = m_dir.filePath(u"Bibliothek-"_s + name);
        d.apiKey = u"orvik-test-"_s + name;
        QProcess generate;
        generate.setProcessEnvironment(environment(d));
        generate.setProcessChannelMode(QProcess::MergedChannels);
        generate.start(u"syncthing"_s, {u"generate"_s, u"--home="_s + d.home,
                                        u"--no-default-folder"_s, u"--skip-port-probing"_s});
        if (!generate.waitForFinished(30000) || generate.exitCode() != 0)
            return false;
        const auto match = QRegularExpression(u"Device ID: *([A-Z0-9-]{63})"_s)
                               .match(QString::fromUtf8(generate.readAll()));
        d.id = match.captured(1);
        return match.hasMatch();
    }

    QProcessEnvironment environment(const Device& d) const {
        QProcessEnvironment env = test::environmentWithHome(d.home + u"/home"_s);
        env.insert(u"STNODEFAULTFOLDER"_s, u"1"_s);
        env.insert(u"STNOUPGRADE"_s, u"1"_s);
        return env;
    }

    // Loopback only: no discovery, relays, NAT traversal or reports; the
    // library shared as one folder. Rescans come from the test, so that each
    // step syncs when the test says. Only one of the two dials the other at
    // its address: when both dial at once, Syncthing 1.19 may hang in the
    // greeting until its 20 s timeout.
    static QByteArray config(const Device& self, const Device& peer, bool dials) {
        const QString xml =
            uR"(<configuration version="36">
    <folder id="%1" label="Orvik" path="%2" type="sendreceive" rescanIntervalS="3600" fsWatcherEnabled="false" fsWatcherDelayS="1" ignorePerms="false" autoNormalize="true">
        <filesystemType>basic</filesystemType>
        <device id="%3" introducedBy=""></device>
        <device id="%4" introducedBy=""></device>
        <minDiskFree unit="%">0</minDiskFree>
        <maxConflicts>10</maxConflicts>
        <markerName>.stfolder</markerName>
    </folder>
    <device id="%3" name="%5" compression="metadata" introducer="false">
        <address>dynamic</address>
    </device>
    <device id="%4" name="%6" compression="metadata" introducer="false">
        <address>%7</address>
    </device>
    <gui enabled="true" tls="false" debugging="false">
        <address>127.0.0.1:%8</address>
        <apikey>%9</apikey>
    </gui>
    <options>
        <listenAddress>tcp://127.0.0.1:%10</listenAddress>
        <globalAnnounceEnabled>false</globalAnnounceEnabled>
        <localAnnounceEnabled>false</localAnnounceEnabled>
        <relaysEnabled>false</relaysEnabled>
        <natEnabled>false</natEnabled>
        <startBrowser>false</startBrowser>
        <urAccepted>-1</urAccepted>
        <crashReportingEnabled>false</crashReportingEnabled>
        <autoUpgradeIntervalH>0</autoUpgradeIntervalH>
        <reconnectionIntervalS>1</reconnectionIntervalS>
        <minHomeDiskFree unit="%">0</minHomeDiskFree>
        <setLowPriority>false</setLowPriority>
    </options>
</configuration>
)"_s.arg(folderId, self.library.toHtmlEscaped(), self.id, peer.id, self.name, peer.name)
                .arg(dials ? u"tcp://127.0.0.1:%1"_s.arg(peer.listenPort) : u"dynamic"_s)
                .arg(self.guiPort)
                .arg(self.apiKey)
                .arg(self.listenPort);
        return xml.toUtf8();
    }

    bool start(Device& d) {
        d.process = std::make_unique<QProcess>();
        d.process->setProcessEnvironment(environment(d));
        d.process->setStandardOutputFile(d.log());
        d.process->setStandardErrorFile(d.log(), QIODevice::Append);
        // Never left running when the test itself is killed.
        d.process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        d.process->start(u"syncthing"_s, {u"serve"_s, u"--home="_s + d.home, u"--no-browser"_s,
                                          u"--no-restart"_s, u"--no-upgrade"_s});
        return d.process->waitForStarted(10000);
    }

    void stop(Device& d) {
        if (!d.process || d.process->state() == QProcess::NotRunning)
            return;
        d.process->terminate();
        if (!d.process->waitForFinished(10000)) {
            d.process->kill();
            d.process->waitForFinished(5000);
        }
    }

    bool connected(const Device& d) {
        const Device& peer = &d == &m_a ? m_b : m_a;
        return get(d, u"/rest/system/connections"_s)[u"connections"_s][peer.id][u"connected"_s]
            .toBool();
    }

    // Both idle with nothing to pull, each holding all the other has; what
    // each says of itself goes into `report`.
    bool settled(QString* report = nullptr) {
        bool done = true;
        for (const Device* d : {&m_a, &m_b}) {
            const Device& peer = d == &m_a ? m_b : m_a;
            const QJsonObject status = get(*d, u"/rest/db/status?folder="_s + folderId);
            const double completion = get(*d, u"/rest/db/completion?folder=%1&device=%2"_s.arg(
                                                  folderId, peer.id))[u"completion"_s]
                                          .toDouble();
            const bool linked = connected(*d);
            const int need = status[u"needTotalItems"_s].toInt(-1);
            done =
                done && status[u"state"_s] == u"idle"_s && need == 0 && completion == 100 && linked;
            if (report)
                *report += u"\n%1: %2, %3 to pull, peer at %4 %, %5"_s.arg(
                    d->name, status[u"state"_s].toString(), QString::number(need),
                    QString::number(completion), linked ? u"connected"_s : u"not connected"_s);
        }
        return done;
    }
    QString states() {
        QString report;
        settled(&report);
        return report;
    }

    // Asks Syncthing every tenth of a second, not more: on a busy machine
    // the questions would take the time it needs to answer them.
    static bool until(const std::function<bool()>& done, int timeoutMs = 40000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(100);
        }
        return true;
    }

    bool scan(const Device& d) {
        return rest(d, "POST", u"/rest/db/scan?folder="_s + folderId).has_value();
    }

    // Both libraries alike: rescanned until a round of scanning and pulling
    // changes nothing more (a conflict copy made while pulling is only
    // found by the next scan).
    bool sync() {
        std::pair<qint64, qint64> last{-1, -1};
        for (int round = 0; round < 6; ++round) {
            if (!scan(m_a) || !scan(m_b) || !until([&] { return settled(); }))
                return false;
            const auto sequence = [&](const Device& d) {
                return qint64(
                    get(d, u"/rest/db/status?folder="_s + folderId)[u"sequence"_s].toDouble());
            };
            const std::pair<qint64, qint64> now{sequence(m_a), sequence(m_b)};
            if (now == last)
                return true;
            last = now;
        }
        return false;
    }

    // A stops talking to B: each library changes on its own.
    bool apart() {
        return rest(m_a, "POST", u"/rest/system/pause?device="_s + m_b.id) &&
               until([&] { return !connected(m_a) && !connected(m_b); });
    }

    // Each takes note of its own changes first, then they meet again.
    bool together() {
        return scan(m_a) && scan(m_b) &&
               rest(m_a, "POST", u"/rest/system/resume?device="_s + m_b.id) && sync();
    }

    // Every text ever written is a sheet's, a copy's or a trashed sheet's in
    // one of the libraries.
    void verifyNothingLost() {
        const QSet<QByteArray> there = texts(m_a.library) + texts(m_b.library);
        for (auto it = m_written.cbegin(); it != m_written.cend(); ++it)
            QVERIFY2(there.contains(*it), qPrintable(it.key()));
    }

    // The trash index reads, and each of its entries has its file.
    void verifyTrashIndex(const Device& d) {
        const Trash trash(d.library);
        const QByteArray bytes = test::readBytes(trash.path() + u"/eintraege.json"_s);
        const auto entries = Trash::decodeIndex(bytes);
        QVERIFY2(entries, qPrintable(d.name + u": "_s + QString::fromUtf8(bytes)));
        for (const Trash::Entry& e : *entries)
            QVERIFY2(QFile::exists(trash.path() + u'/' + e.fileName),
                     qPrintable(d.name + u": "_s + e.fileName));
    }

    // What `orvik conflicts --json` reports on a device, each copy as
    // {path, original, engine}; a date that is no ISO 8601 shows as a copy
    // of its own.
    QList<QStringList> conflicts(const Device& d) {
        const Run r = orvik(d, {u"--json"_s, u"conflicts"_s});
        if (r.code != 0)
            return {{r.err}};
        QList<QStringList> list;
        for (const QJsonValue& v : r.json().toArray()) {
            list.append(
                {v[u"path"_s].toString(), v[u"original"_s].toString(), v[u"engine"_s].toString()});
            if (!QDateTime::fromString(v[u"date"_s].toString(), Qt::ISODate).isValid())
                list.append({v[u"date"_s].toString()});
        }
        return list;
    }

    // Another device's editor saves `text` into a sheet, as Orvik does.
    void writeOn(const Device& d, const QString& relative, const QString& text) {
        QVERIFY(files::writeAtomically(at(d, relative), text.toUtf8()));
        m_written.insert(d.name + u':' + relative, text.toUtf8());
    }

    // The sheet selected on A, by its path in the library.
    QString selected() const {
        return m_store->selectedSheetID().toLocalFile().mid(m_a.library.size() + 1);
    }

    // The store on A types `text` into its selected sheet and writes it.
    void typeAndSave(const QString& text) {
        m_store->setCurrentText(text);
        m_store->flushPendingSave();
        QVERIFY(!m_store->lastWriteFailed());
        m_written.insert(u"A:"_s + selected(), text.toUtf8());
    }

    // The file names of the sheets A's store lists, sorted.
    QStringList shown() const {
        QStringList names;
        for (const Sheet& s : m_store->sheets())
            names.append(fileName(s.path()));
        return sorted(names);
    }

    std::optional<Folder> group(const QString& name) const {
        for (const Folder& f : m_store->folders())
            if (f.name == name)
                return f;
        return std::nullopt;
    }

private Q_SLOTS:
    void initTestCase() {
        qRegisterMetaType<ExternalChange>();
        QVERIFY2(!QStandardPaths::findExecutable(u"syncthing"_s).isEmpty(),
                 "syncthing is missing: scripts/setup.sh installs it");
        const QList<quint16> ports = freePorts(4);
        QCOMPARE(ports.size(), 4);
        m_a.listenPort = ports[0];
        m_a.guiPort = ports[1];
        m_b.listenPort = ports[2];
        m_b.guiPort = ports[3];
        QVERIFY(prepare(m_a, u"A"_s) && prepare(m_b, u"B"_s));
        QVERIFY(test::writeBytes(m_a.home + u"/config.xml"_s, config(m_a, m_b, true)));
        QVERIFY(test::writeBytes(m_b.home + u"/config.xml"_s, config(m_b, m_a, false)));

        // The library is made on A and comes to B through Syncthing. Nothing
        // is written unless the test says so.
        LibraryStore::Options options = m_fixture.options(m_dir.path(), 3600 * 1000);
        options.root = m_a.library;
        m_store = std::make_unique<LibraryStore>(options);
        QVERIFY(QDir().mkpath(m_b.library));

        // B listens before A first dials it: a refused dial waits seconds for the next.
        QVERIFY(start(m_b));
        QVERIFY(until([&] { return rest(m_b, "GET", u"/rest/system/ping"_s).has_value(); }));
        QVERIFY(start(m_a));
        QVERIFY2(until([&] { return settled(); }), qPrintable(states()));
        QVERIFY2(sync(), qPrintable(states()));
        QCOMPARE(get(m_a, u"/rest/config/folders/"_s + folderId)[u"maxConflicts"_s].toInt(), 10);
        m_ready = true;
    }

    void cleanup() { m_failed = m_failed || QTest::currentTestFailed(); }

    void cleanupTestCase() {
        m_store.reset();
        stop(m_a);
        stop(m_b);
        if (m_failed || !m_ready)
            for (const Device* d : {&m_a, &m_b})
                qWarning("Syncthing %s:\n%s", qPrintable(d->name),
                         test::readBytes(d->log()).right(4000).constData());
    }

    void sheetsWrittenOnAAreListedOnB() {
        const auto ideas = group(u"Ideen"_s);
        QVERIFY(ideas);
        QVERIFY(m_store->newSheetIn(*ideas));
        typeAndSave(u"# Reise nach Bergen\n\nDer Zug fährt um sieben."_s);
        QVERIFY(m_store->newSheetIn(*ideas));
        typeAndSave(u"# Fjorde\n\nEntwurf."_s);
        typeAndSave(u"# Fjorde im Regen\n\nDer Regen kam vom Meer."_s);
        QVERIFY2(sync(), qPrintable(states()));

        const Run sheets = orvik(m_b, {u"--json"_s, u"sheets"_s, u"Ideen"_s});
        QCOMPARE(sheets.code, 0);
        const QStringList titles = sheets.field(u"title"_s);
        QVERIFY2(titles.contains(u"Reise nach Bergen"_s) && titles.contains(u"Fjorde im Regen"_s),
                 qPrintable(titles.join(u", "_s)));
        QVERIFY(!titles.contains(u"Fjorde"_s));
        verifyNothingLost();
    }

    void bothEditedBeforeTheySyncAreBothKeptAndSettledOnOne() {
        const auto ideas = group(u"Ideen"_s);
        QVERIFY(ideas && m_store->newSheetIn(*ideas));
        typeAndSave(u"# Brief an Ingrid\n\nLiebe Ingrid,"_s);
        const QString sheet = selected();
        QVERIFY2(sync(), qPrintable(states()));

        QVERIFY(apart());
        const QString onA = u"# Brief an Ingrid\n\nLiebe Ingrid, hier regnet es."_s;
        const QString onB = u"# Brief an Ingrid\n\nLiebe Ingrid, wir kommen im Mai."_s;
        typeAndSave(onA);
        writeOn(m_b, sheet, onB);
        QVERIFY2(together(), qPrintable(states()));

        // One edit is the sheet, the other Syncthing's copy beside it: the
        // later change keeps the sheet.
        QString copy;
        for (const Device* d : {&m_a, &m_b}) {
            const QList<QStringList> found = conflicts(*d);
            QCOMPARE(found.size(), 1);
            QCOMPARE(found[0][1], at(*d, sheet));
            QCOMPARE(found[0][2], u"syncthing"_s);
            copy = fileName(found[0][0]);
            QVERIFY2(copy.contains(u".sync-conflict-"_s), qPrintable(copy));
            QCOMPARE((QSet<QByteArray>{test::readBytes(at(*d, sheet)),
                                       test::readBytes(at(*d, u"Ideen/"_s + copy))}),
                     (QSet<QByteArray>{onA.toUtf8(), onB.toUtf8()}));
        }
        verifyNothingLost();

        // Settled on A: the copy's text becomes the sheet's, the other goes into the trash.
        const QByteArray taken = test::readBytes(at(m_a, u"Ideen/"_s + copy));
        QTRY_COMPARE(m_store->currentText().toUtf8(), test::readBytes(at(m_a, sheet)));
        QVERIFY(m_store->resolveConflict(QUrl::fromLocalFile(at(m_a, u"Ideen/"_s + copy)),
                                         ConflictChoice::TakeCopy));
        QVERIFY2(sync(), qPrintable(states()));
        for (const Device* d : {&m_a, &m_b}) {
            QVERIFY(conflicts(*d).isEmpty());
            QCOMPARE(test::readBytes(at(*d, sheet)), taken);
            verifyTrashIndex(*d);
        }
        verifyNothingLost();
    }

    void aSheetOpenWithUnsavedTextOnAChangedOnBKeepsBoth() {
        const auto ideas = group(u"Ideen"_s);
        QVERIFY(ideas && m_store->newSheetIn(*ideas));
        typeAndSave(u"# Notizen zum Mai\n\nErste Zeile."_s);
        const QString sheet = selected();
        QVERIFY2(sync(), qPrintable(states()));

        const QString typed = u"# Notizen zum Mai\n\nErste Zeile. Auf A weitergeschrieben."_s;
        const QString onB = u"# Notizen zum Mai\n\nErste Zeile. Auf B ergänzt."_s;
        m_store->setCurrentText(typed);
        m_written.insert(u"A:"_s + sheet, typed.toUtf8());
        writeOn(m_b, sheet, onB);
        QVERIFY(scan(m_b));
        QTRY_COMPARE_WITH_TIMEOUT(test::readBytes(at(m_a, sheet)), onB.toUtf8(), 30000);
        QSignalSpy told(m_store.get(), &LibraryStore::changedOutside);
        // The writer pauses: the waiting text is written.
        QVERIFY(m_store->hasPendingSave());
        m_store->flushPendingSave();
        QCOMPARE(told.size(), 1);
        const auto change = told[0][0].value<ExternalChange>();
        QCOMPARE(change.kind, ExternalChange::Kind::KeptBoth);
        QVERIFY2(change.keptAs.contains(u"(extern geändert "_s), qPrintable(change.keptAs));
        QCOMPARE(m_store->currentText(), typed);
        QVERIFY2(sync(), qPrintable(states()));

        const QString copy = u"Ideen/"_s + change.keptAs;
        for (const Device* d : {&m_a, &m_b}) {
            QCOMPARE(test::readBytes(at(*d, sheet)), typed.toUtf8());
            QCOMPARE(test::readBytes(at(*d, copy)), onB.toUtf8());
            QCOMPARE(conflicts(*d),
                     (QList<QStringList>{{at(*d, copy), at(*d, sheet), u"orvik"_s}}));
        }
        verifyNothingLost();
    }

    // B trashes a sheet of a group A shows and renames the group; then both
    // change the trash while apart.
    void aFollowsAGroupRenamedAndASheetTrashedOnB() {
        const auto roman = m_store->createFolder(u"Roman"_s);
        QVERIFY(roman);
        QStringList names; // kept, trashed on B, trashed on A
        for (const QString& text :
             {u"# Erstes Kapitel\n\nEs war kalt."_s, u"# Verworfen\n\nDas kommt weg."_s,
              u"# Auch weg\n\nDas auch."_s}) {
            QVERIFY(m_store->newSheetIn(*roman));
            typeAndSave(text);
            names.append(fileName(selected()));
        }
        m_store->setSelectedSheetID(QUrl::fromLocalFile(roman->path() + u'/' + names[0]));
        QTRY_COMPARE(m_store->currentText(), u"# Erstes Kapitel\n\nEs war kalt."_s);
        QVERIFY2(sync(), qPrintable(states()));

        // Trashed first, so that the rename rewrites the trash index too.
        QCOMPARE(orvik(m_b, {u"trash"_s, at(m_b, u"Roman/"_s + names[1])}).code, 0);
        QCOMPARE(orvik(m_b, {u"rename-group"_s, u"Roman"_s, u"Winterroman"_s}).code, 0);
        QVERIFY2(sync(), qPrintable(states()));

        const QString renamed = at(m_a, u"Winterroman"_s);
        QTRY_VERIFY(group(u"Winterroman"_s) && !group(u"Roman"_s));
        QTRY_COMPARE(m_store->selectedFolderID(), QUrl::fromLocalFile(renamed));
        QTRY_COMPARE(shown(), sorted({names[0], names[2]}));
        QCOMPARE(m_store->selectedSheetID(), QUrl::fromLocalFile(renamed + u'/' + names[0]));
        verifyTrashIndex(m_a);
        verifyTrashIndex(m_b);

        // Apart, A trashes a sheet and B restores one: each writes the index.
        QVERIFY(apart());
        const QList<Sheet> listed = m_store->sheets(); // deleting changes the store's list
        for (const Sheet& s : listed)
            if (fileName(s.path()) == names[2])
                m_store->deleteSheet(s);
        QCOMPARE(orvik(m_b, {u"restore"_s, names[1]}).code, 0);
        QVERIFY2(together(), qPrintable(states()));
        // B restores what A trashed into its group: A's entry is not lost.
        QCOMPARE(orvik(m_b, {u"restore"_s, names[2]}).code, 0);
        QVERIFY2(sync(), qPrintable(states()));
        for (const Device* d : {&m_a, &m_b}) {
            for (const QString& name : names)
                QVERIFY2(QFile::exists(at(*d, u"Winterroman/"_s + name)),
                         qPrintable(d->name + u": "_s + name));
            verifyTrashIndex(*d);
            QCOMPARE(QDir(at(*d, u".Papierkorb"_s)).entryList({u"*.json"_s}, QDir::Files),
                     QStringList{u"eintraege.json"_s});
        }
        QTRY_COMPARE(shown(), sorted(names));
        verifyNothingLost();
    }
};

ORVIK_TEST_MAIN(TestSyncthing)

#include "tst_syncthing.moc"
