#include "serveoptions.h"

#include "wholenumber.h"

#include <QCommandLineParser>
#include <QLocale>
#include <optional>

namespace
{
const QString RawPortOption = QStringLiteral("raw-port");
const QString ListenOption = QStringLiteral("listen");
const QString AllowOption = QStringLiteral("allow");
const QString ReadOnlyOption = QStringLiteral("read-only");
const QString Vxi11Option = QStringLiteral("vxi11");
const QString MdnsOption = QStringLiteral("mdns");
const QString HttpPortOption = QStringLiteral("http-port");
const QString HttpHostOption = QStringLiteral("http-host");
const QString StatusIntervalOption = QStringLiteral("status-interval");
const QString SnmpOption = QStringLiteral("snmp");
const QString AgentxSocketOption = QStringLiteral("agentx-socket");
const QString TemperatureLimitOption = QStringLiteral("snmp-temperature-limit");

// The address the operator wrote, in full. Qt also reads the short and
// octal forms of IPv4 ("0" as 0.0.0.0, "1.2.3" as 1.2.0.3, "010.0.0.1" as
// 8.0.0.1), which are far more likely slips than meant; "0" would even open
// the server to every interface.
std::optional<QHostAddress> listenAddress(const QString &text)
{
    QHostAddress address;
    if (!address.setAddress(text) ||
        (address.protocol() == QAbstractSocket::IPv4Protocol && address.toString() != text))
        return std::nullopt;
    return address;
}

// Leaves `port` as it is when the option is not given; the error, else empty.
QString readPort(const QCommandLineParser &parser, const QString &option, quint16 *port)
{
    if (!parser.isSet(option))
        return {};
    const std::optional<int> number = wholeNumber(parser.value(option), 0, 65535);
    if (!number)
        return QStringLiteral("--%1: \"%2\" is not a port (0 to 65535)")
            .arg(option, parser.value(option));
    *port = quint16(*number);
    return {};
}

#ifdef RFCTL_HTTP
// Leaves the interval unset when the option is not given; the error, else empty.
QString readInterval(const QCommandLineParser &parser, std::optional<int> *intervalMs)
{
    if (!parser.isSet(StatusIntervalOption))
        return {};
    bool ok = false;
    const double seconds = QLocale::c().toDouble(parser.value(StatusIntervalOption), &ok);
    if (!ok || !(seconds >= 0.1 && seconds <= 3600))
        return QStringLiteral("--%1: \"%2\" is not a number of seconds from 0.1 to 3600")
            .arg(StatusIntervalOption, parser.value(StatusIntervalOption));
    *intervalMs = qRound(seconds * 1000);
    return {};
}
#endif
#ifdef RFCTL_SNMP
QString readSnmp(const QCommandLineParser &parser, ServeOptions *options)
{
    options->snmp = parser.isSet(SnmpOption) || parser.isSet(AgentxSocketOption);
    options->agentxSocket = parser.value(AgentxSocketOption);
    if (!parser.isSet(TemperatureLimitOption))
        return {};
    bool ok = false;
    const double limit = QLocale::c().toDouble(parser.value(TemperatureLimitOption), &ok);
    if (!ok || !(limit >= -50 && limit <= 200))
        return QStringLiteral("--%1: \"%2\" is not a temperature from -50 to 200 (degrees "
                              "Celsius)")
            .arg(TemperatureLimitOption, parser.value(TemperatureLimitOption));
    options->snmpTemperatureLimit = limit;
    return {};
}
#endif
} // namespace

QList<QCommandLineOption> serveOptionList()
{
    return {
        {RawPortOption,
         QStringLiteral("TCP port of the raw SCPI socket (default %1; 0 takes a free port).")
             .arg(ServeOptions::DefaultRawPort),
         QStringLiteral("N")},
        {ListenOption,
         QStringLiteral("Address to listen on (default 127.0.0.1; 0.0.0.0 for every "
                        "IPv4 interface)."),
         QStringLiteral("ADDR")},
        {AllowOption,
         QStringLiteral("Accept only clients in this subnet, as ADDR/BITS or one address; "
                        "may be repeated. Others are closed at once."),
         QStringLiteral("CIDR")},
        {ReadOnlyOption, QStringLiteral("Pass only single queries (a query header such as "
                                        "\"*IDN?\" or \"SYST:SERNUM?\", printable ASCII, no "
                                        "\";\"); refuse everything else.")},
#ifdef RFCTL_VXI11
        {Vxi11Option, QStringLiteral("Also serve VXI-11 (TCPIP::HOST::INSTR) on a free port, "
                                     "registered with the portmapper (rpcbind).")},
#endif
#ifdef RFCTL_MDNS
        {MdnsOption, QStringLiteral("Announce the services by mDNS through the avahi daemon, "
                                    "named after the instrument's model and serial number.")},
#endif
#ifdef RFCTL_HTTP
        {HttpPortOption,
         QStringLiteral("Also serve the status over HTTP on this TCP port: a status page, "
                        "Prometheus metrics and the LXI identification (0 takes a free port)."),
         QStringLiteral("N")},
        {HttpHostOption,
         QStringLiteral("A name web clients may reach the server by, besides the listen "
                        "address (and localhost on the loopback); may be repeated. Requests "
                        "for other hosts are refused."),
         QStringLiteral("NAME")},
        {StatusIntervalOption,
         QStringLiteral("Seconds between the server's status reads for the web service "
                        "(default 1, over USB 5)."),
         QStringLiteral("S")},
#endif
#ifdef RFCTL_SNMP
        {SnmpOption, QStringLiteral("Serve RFCONVERTER-MIB to the host's snmpd as an AgentX "
                                    "subagent, with its notifications.")},
        {AgentxSocketOption,
         QStringLiteral("The master agent's AgentX socket, a path or tcp:HOST:PORT (default "
                        "snmpd's, /var/agentx/master); implies --snmp."),
         QStringLiteral("SOCKET")},
        {TemperatureLimitOption,
         QStringLiteral("Notify by SNMP when the temperature rises above this many degrees "
                        "Celsius (default %1), and when it is 1 degree below again.")
             .arg(ServeOptions::DefaultSnmpTemperatureLimit),
         QStringLiteral("C")},
#endif
    };
}

QString readServeOptions(const QCommandLineParser &parser, ServeOptions *options)
{
    QString error = readPort(parser, RawPortOption, &options->rawPort);
    if (!error.isEmpty())
        return error;
    if (parser.isSet(ListenOption)) {
        const std::optional<QHostAddress> address = listenAddress(parser.value(ListenOption));
        if (!address)
            return QStringLiteral("--listen: \"%1\" is not an IP address in full (such as "
                                  "127.0.0.1)")
                .arg(parser.value(ListenOption));
        options->listen = *address;
    }
#ifdef RFCTL_HTTP
    quint16 httpPort = 0;
    error = readPort(parser, HttpPortOption, &httpPort);
    if (!error.isEmpty())
        return error;
    if (parser.isSet(HttpPortOption))
        options->httpPort = httpPort;
    options->httpHosts = parser.values(HttpHostOption);
    error = readInterval(parser, &options->statusIntervalMs);
    if (!error.isEmpty())
        return error;
#endif
    options->readOnly = parser.isSet(ReadOnlyOption);
#ifdef RFCTL_VXI11
    options->vxi11 = parser.isSet(Vxi11Option);
#endif
#ifdef RFCTL_MDNS
    options->mdns = parser.isSet(MdnsOption);
#endif
#ifdef RFCTL_SNMP
    error = readSnmp(parser, options);
    if (!error.isEmpty())
        return error;
#endif
    return options->access.read(parser.values(AllowOption));
}
