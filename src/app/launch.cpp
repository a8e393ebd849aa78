#include "appname.h"
#include "command.h"
#include "platform/files.h"
#include "platform/timezone.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <climits>
#include <unistd.h>

namespace {

// Whether the command line asks for a search and nothing this program does
// not know: options before the command are --library and --json only.
bool asksForSearch(const QStringList& arguments) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == u"--library") {
            ++i;
        } else if (a.startsWith(u"--library=") || a == u"--json") {
            continue;
        } else {
            if (a != u"search")
                return false;
            const QStringList rest = arguments.mid(i + 1);
            const qsizetype end = rest.indexOf(QStringLiteral("--"));
            const QStringList options = end < 0 ? rest : rest.mid(0, end);
            return !options.contains(QStringLiteral("--help")) &&
                   !options.contains(QStringLiteral("-h")) &&
                   !options.contains(QStringLiteral("--version"));
        }
    }
    return false;
}

// The full program beside this one (in the build folder), else where it is
// installed, relative to this one: PREFIX/bin/orvik, PREFIX/lib/orvik/orvik-app.
QByteArray fullProgram() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return {};
    const QByteArray path(self, n);
    const QByteArray dir = path.left(path.lastIndexOf('/'));
    for (const QByteArray& candidate :
         {dir + "/orvik-app", dir.left(dir.lastIndexOf('/')) + "/lib/orvik/orvik-app"}) {
        if (::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(orvik::files::decodeName(argv[i]));
    if (asksForSearch(arguments)) {
        orvik::platform::pinSystemTimeZone();
        QCoreApplication app(argc, argv);
        orvik::app::nameApplication();
        QTextStream out(stdout);
        QString complaint;
        QTextStream err(&complaint);
        const int code = orvik::cli::runWith({orvik::cli::searchCommand()}, arguments, out, err);
        out.flush();
        err.flush();
        // A command line this program reads otherwise than the full one: that
        // one answers, with its own words.
        if (code != orvik::cli::Usage) {
            std::fputs(complaint.toLocal8Bit().constData(), stderr);
            return code;
        }
    }
    const QByteArray program = fullProgram();
    if (!program.isEmpty())
        ::execv(program.constData(), argv);
    std::fprintf(stderr, "orvik: %s kann nicht gestartet werden: %s\n",
                 program.isEmpty() ? "orvik-app" : program.constData(), std::strerror(errno));
    return 1;
}
