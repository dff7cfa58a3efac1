#include "commands.h"
#include "console.h"
#include "networksettingsfile.h"
#include "rawserver.h"
#include "servelog.h"
#include "serveoptions.h"
#include "sharedlink.h"
#include "statussnapshot.h"
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
#ifdef RFCTL_SNMP
#include "snmpagent.h"
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

// Where the link goes or tries to go, for the operator.
QString targetText(const SharedLink::Target &target)
{
    const QHostAddress address(target.host);
    QString tcp = address.isNull() ? target.host + ':' + QString::number(target.port)
                                   : endpointName(address, quint16(target.port));
    if (!target.usb)
        return tcp;
    const QString usb =
        target.serial.isEmpty() ? QStringLiteral("USB") : QStringLiteral("USB ") + target.serial;
    return target.host.isEmpty() ? usb : usb + QStringLiteral(", then ") + tcp;
}

// Read only when a monitoring service is asked for; over USB a read holds the
// instrument for its readiness pause, so less often by default.
std::unique_ptr<StatusSnapshot> snapshotFor(SharedLink &link, const SharedLink::Target &target,
                                            const ServeOptions &options)
{
    if (!options.monitored())
        return nullptr;
    const int intervalMs = options.statusIntervalMs.value_or(
        target.usb ? StatusSnapshot::DefaultUsbIntervalMs : StatusSnapshot::DefaultIntervalMs);
    return std::make_unique<StatusSnapshot>(link, targetText(target), intervalMs);
}

using Services = std::vector<std::unique_ptr<QObject>>;

#ifdef RFCTL_MDNS
// The services go by the instrument's name, so they are announced once it
// has first identified itself; "mdns NAME" is printed once avahi has taken
// the name, with the name it took.
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
        if (up)
            announcer->announce(MdnsAnnouncer::serviceName(link.identification()));
    });
    QObject::connect(announcer, &MdnsAnnouncer::announced, announcer,
                     [printed = QString()](const QString &name) mutable {
                         if (name != printed)
                             printLine(QStringLiteral("mdns ") + name);
                         printed = name;
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
QStringList startServices(SharedLink &link, [[maybe_unused]] StatusSnapshot *snapshot,
                          const ServeOptions &options, Services *services, QString *error)
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
        auto http = std::make_unique<HttpService>(*snapshot, options.access);
        http->setIdentity(identityOf(options, rawPort));
        http->setHostNames(options.httpHosts);
        if (!http->listen(options.listen, *options.httpPort, error))
            return {};
        lines += http->serviceLine();
        httpPort = http->port();
        services->push_back(std::move(http));
    }
#endif
#ifdef RFCTL_SNMP
    if (options.snmp) {
        auto snmp = std::make_unique<SnmpAgent>(*snapshot, options.agentxSocket,
                                                options.snmpTemperatureLimit);
        snmp->start();
        lines += snmp->serviceLine();
        services->push_back(std::move(snmp));
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
    const SharedLink::Target target = targetOf(inv.link);
    SharedLink link(target, timingsOf(inv.link));
    link.setReadOnly(options.readOnly);
    // Before the services, which read it, and gone after them.
    const std::unique_ptr<StatusSnapshot> snapshot = snapshotFor(link, target, options);
    Services services;
    QString error;
    const QStringList lines = startServices(link, snapshot.get(), options, &services, &error);
    if (lines.isEmpty())
        return fail(ExitCode::NoLink, error);
    // A supervisor that reads the lines may stop the server at once.
    quitOnStopSignals(*QCoreApplication::instance());
    for (const QString &line : lines)
        printLine(line);
    link.start();
    if (snapshot)
        snapshot->start();
    QCoreApplication::exec();
    return ExitCode::Done;
}
