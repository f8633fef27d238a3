#include "gateway/GatewayService.h"

#include "gateway/Gateway.h"
#include "gateway/GatewayConfig.h"
#include "gateway/MqttPublisher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kc {

namespace {

// systemd names the journal's stream in JOURNAL_STREAM ("device:inode");
// stderr is that stream only when they match, not merely when it is set.
bool stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat st
    {
    };
    if (stream.isEmpty() || ::fstat(STDERR_FILENO, &st) != 0)
        return false;
    return stream == QByteArray::number(qulonglong(st.st_dev)) + ':' +
                         QByteArray::number(qulonglong(st.st_ino));
}

void printLines(FILE *to, const QStringList &lines)
{
    for (const QString &line : lines)
        std::fprintf(to, "%s\n", line.toUtf8().constData());
}

QString hostName()
{
    const QString name = QHostInfo::localHostName().section(QLatin1Char('.'), 0, 0).toLower();
    return name.isEmpty() ? QStringLiteral("localhost") : name;
}

int run(const GatewayConfig &config)
{
    QByteArray password;
    if (!config.broker.passwordFile.isEmpty()) {
        QString fault;
        const auto read = readPasswordFile(config.broker.passwordFile, &fault);
        if (!read) {
            serviceLog(LogPriority::error, fault);
            return GatewayExit::badConfig;
        }
        password = *read;
    }

    // SIGTERM and SIGINT arrive as reads on a descriptor in the event loop.
    // They are blocked before the client library starts its threads, which
    // inherit the mask, so no thread of it takes them instead.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        serviceLog(LogPriority::error, QStringLiteral("cannot watch for SIGTERM"));
        return GatewayExit::failed;
    }

    MqttPublisher publisher(config.broker, password, config.topicPrefix, config.qos);
    QObject::connect(&publisher, &MqttPublisher::logLine, &serviceLog);
    if (!publisher.start())
        return GatewayExit::failed;
    serviceLog(LogPriority::info, QStringLiteral("started: %1, topics under %2/")
                                      .arg(configSummary(config), config.topicPrefix));

    Gateway gateway(config, &publisher);
    if (!gateway.start()) {
        publisher.stop();
        return GatewayExit::badConfig;
    }

    QSocketNotifier notifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        signalfd_siginfo info{};
        [[maybe_unused]] const auto n = ::read(signalFd, &info, sizeof info);
        serviceLog(LogPriority::info, QStringLiteral("stopping on signal %1").arg(info.ssi_signo));
        notifier.setEnabled(false);
        // Polling ends first, so what the broker is sent last is the final word.
        gateway.stop();
        publisher.stop();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    ::close(signalFd);
    return GatewayExit::ok;
}

} // namespace

void serviceLog(int priority, const QString &text)
{
    static const bool journal = stderrIsJournal();
    // One message, one line: a newline inside would split it in the journal.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (journal)
        std::fprintf(stderr, "<%d>%s\n", priority, line.toUtf8().constData());
    else
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

int gatewayMain(const QStringList &arguments, const QString &version)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls KC4420 temperature and humidity modules on RS-485 lines and\n"
                       "publishes every reading to an MQTT broker."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Check a configuration file and exit: 0 when "
                                                  "it is sound, 2 with one line per fault."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption configOption(
        QStringLiteral("config"),
        QStringLiteral("Run in the foreground with this configuration until SIGTERM or SIGINT."),
        QStringLiteral("FILE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Show the version and exit."));
    parser.addOptions({check, configOption, help, versionOption});
    if (!parser.parse(arguments)) {
        printLines(stderr, {parser.errorText(), QStringLiteral("Try --help.")});
        return GatewayExit::badConfig;
    }
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        std::fputs("\nThe configuration keys and topics are described in docs/MQTT.md;\n"
                   "the service reads /etc/kc4420/gateway.json.\n",
                   stdout);
        return GatewayExit::ok;
    }
    if (parser.isSet(versionOption)) {
        std::printf("kc4420-gateway %s\n", version.toUtf8().constData());
        return GatewayExit::ok;
    }
    if (!parser.positionalArguments().isEmpty() ||
        parser.isSet(check) == parser.isSet(configOption)) {
        printLines(stderr, {QStringLiteral("give either --check FILE or --config FILE"),
                            QStringLiteral("Try --help.")});
        return GatewayExit::badConfig;
    }

    const bool checking = parser.isSet(check);
    const QString path = parser.value(checking ? check : configOption);
    const ConfigReading reading = loadGatewayConfig(path, hostName());
    if (!reading.config) {
        for (const QString &fault : reading.faults)
            serviceLog(LogPriority::error, fault);
        return GatewayExit::badConfig;
    }
    if (checking) {
        std::printf("configuration OK: %s\n", configSummary(*reading.config).toUtf8().constData());
        return GatewayExit::ok;
    }
    return run(*reading.config);
}

} // namespace kc
