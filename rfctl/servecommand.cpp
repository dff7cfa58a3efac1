#include "commands.h"
#include "console.h"
#include "networksettingsfile.h"
#include "rawserver.h"
#include "servelog.h"
#include "serveoptions.h"
#include "sharedlink.h"
#include "stopsignals.h"
#ifdef RFCTL_VXI11
#include "vxi11server.h"
#endif
#ifdef RFCTL_MDNS
#include "mdnsannouncer.h"
#endif
#ifdef RFCTL_HTTP
#include "httpservice.h"
#endif

#include <QCoreApplication>
#include <QHostInfo>
#include <memory>
#include <vector>

namespace
{
// The link as the global options chose it; without a choice, as the panel
// starts: USB first, then the address in the settings file.
SharedLink::Target targetOf(const LinkChoice &choice)
{
    SharedLink::Target target{choice.kind != LinkChoice::Tcp, choice.host, choice.port,
                              choice.serial};
    if (choice.kind == LinkChoice::Auto) {
        if (const auto settings = NetworkSettingsFile().read(); settings && settings->port > 0)
            target = {true, settings->ipAddress, settings->port, QString()};
    }
    return target;
}

// Never longer than the instrument's own limits.
ConnectionTimings timingsOf(const LinkChoice &choice)
{
    ConnectionTimings timings;
    timings.tcpConnectWaitMs = qMin(timings.tcpConnectWaitMs, choice.timeoutMs);
    timings.tcpReplyWaitMs = qMin(timings.tcpReplyWaitMs, choice.timeoutMs);
    return timings;
}

using Services = std::vector<std::unique_ptr<QObject>>;

#ifdef RFCTL_MDNS
// The services go by the instrument's name, so they are announced once it
// has first identified itself, and "mdns NAME" is printed then.
void startMdns(SharedLink &link, const ServeOptions &options, quint16 rawPort, quint16 httpPort,
               Services *services)
{
    if (options.listen.isLoopback())
        serveLog(QStringLiteral("mdns: the services listen on %1 only, which other hosts "
                                "cannot reach")
                     .arg(options.listen.toString()));
    auto mdns = std::make_unique<MdnsAnnouncer>(
        MdnsAnnouncer::lxiServices(rawPort, options.vxi11, httpPort));
    MdnsAnnouncer *announcer = mdns.get();
    QObject::connect(&link, &SharedLink::linkChanged, announcer, [&link, announcer](bool up) {
        const QString name = MdnsAnnouncer::serviceName(link.identification());
        if (up && announcer->announce(name))
            printLine(QStringLiteral("mdns ") + name);
    });
    services->push_back(std::move(mdns));
}
#endif

#ifdef RFCTL_HTTP
// The web service adds its own port.
HttpIdentity identityOf(const ServeOptions &options, quint16 rawPort)
{
    return {options.listen, rawPort, options.vxi11, 0, QHostInfo::localHostName()};
}
#endif

// Starts every service the options ask for; the line each prints, or the
// reason none could start in `error`.
QStringList startServices(SharedLink &link, const ServeOptions &options, Services *services,
                          QString *error)
{
    auto raw = std::make_unique<RawServer>(link, options.access);
    if (!raw->listen(options.listen, options.rawPort, error))
        return {};
    QStringList lines{raw->serviceLine()};
    // Both name the ports to mDNS, and the raw one to the web service, in
    // builds that have them.
    [[maybe_unused]] const quint16 rawPort = raw->port();
    services->push_back(std::move(raw));
#ifdef RFCTL_VXI11
    if (options.vxi11) {
        auto vxi11 = std::make_unique<Vxi11Server>(link, options.access);
        if (!vxi11->listen(options.listen, error))
            return {};
        lines += vxi11->serviceLine();
        services->push_back(std::move(vxi11));
    }
#endif
    [[maybe_unused]] quint16 httpPort = 0;
#ifdef RFCTL_HTTP
    if (options.httpPort) {
        auto http = std::make_unique<HttpService>(link, options.access);
        http->setIdentity(identityOf(options, rawPort));
        if (!http->listen(options.listen, *options.httpPort, error))
            return {};
        lines += http->serviceLine();
        httpPort = http->port();
        services->push_back(std::move(http));
    }
#endif
#ifdef RFCTL_MDNS
    // Announced only once the link is up, which is after every service started.
    if (options.mdns)
        startMdns(link, options, rawPort, httpPort, services);
#endif
    return lines;
}
} // namespace

int runServe(Invocation &inv)
{
    ServeOptions options;
    const QString problem = readServeOptions(inv.options, &options);
    if (!problem.isEmpty())
        return fail(ExitCode::Usage, QStringLiteral("serve: %1").arg(problem));
    SharedLink link(targetOf(inv.link), timingsOf(inv.link));
    link.setReadOnly(options.readOnly);
    Services services;
    QString error;
    const QStringList lines = startServices(link, options, &services, &error);
    if (lines.isEmpty())
        return fail(ExitCode::NoLink, error);
    for (const QString &line : lines)
        printLine(line);
    quitOnStopSignals(*QCoreApplication::instance());
    link.start();
    QCoreApplication::exec();
    return ExitCode::Done;
}
