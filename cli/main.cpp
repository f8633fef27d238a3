#include "cli/CliOptions.h"
#include "cli/CliSession.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kc4420-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KC_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    const kc::ParsedCli parsed = kc::parseCli(QCoreApplication::arguments());
    if (parsed.version) {
        out << "kc4420-cli " << KC_VERSION << '\n';
        return 0;
    }
    if (!parsed.helpText.isEmpty()) {
        out << parsed.helpText;
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        err << parsed.error << '\n';
        return kc::Exit::Refused;
    }

    kc::CliSession session(parsed.options, out, err);
    // Ctrl+C and SIGTERM reach the event loop through a pipe, so a poll or an
    // upload log ends between rows and the CSV file is left whole.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&session] {
            char byte;
            [[maybe_unused]] const auto n = ::read(signalPipe[0], &byte, 1);
            session.interrupt();
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const int status = kc::runCommand(session);
    out.flush();
    return status;
}
