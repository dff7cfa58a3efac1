#include "simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace
{

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

} // namespace

// Stand-alone simulated instrument on 127.0.0.1. The first stdout line is the
// bound port number alone, so scripts can start it with --port 0 and read it.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kxsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RFPANEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated RF converter instrument"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1 (0 = any free port)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Log every line and reply to stderr."));
    const QCommandLineOption faultsOption(
        QStringLiteral("faults"),
        QStringLiteral("Also obey the fault commands, for trying monitoring: \"fault:unlock N\" "
                       "and \"fault:lock N\" make LO N (1 to 3) read unlocked or locked; "
                       "\"fault:temperature C\" makes the temperature read C degrees Celsius."));
    parser.addOption(portOption);
    parser.addOption(verboseOption);
    parser.addOption(faultsOption);
    // Answered here rather than by QCommandLineParser::process(), which on
    // Windows shows a message box instead of writing to the pipe that
    // started the program when it has no console of its own.
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "kxsim: %s\n", qPrintable(parser.errorText()));
        return 1;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("kxsim %s\n", RFPANEL_VERSION);
        return 0;
    }

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "kxsim: invalid port \"%s\"\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    // Before the port is printed: a script may send the signal as soon as it has read it.
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);

    InstrumentModel::Config config;
    config.faults = parser.isSet(faultsOption);
    SimServer server(config);
    server.setVerbose(parser.isSet(verboseOption));
    if (!server.start(static_cast<quint16>(port))) {
        std::fprintf(stderr, "kxsim: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    // A signal handler may only set a flag; the event loop notices it here.
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &app, [] {
        if (stopRequested)
            QCoreApplication::quit();
    });
    stopCheck.start(100);

    const int result = app.exec();
    server.stop();
    return result;
}
