#include "link.h"

#include "console.h"
#include "instrumentsession.h"
#include "networksettingsfile.h"
#include "wholenumber.h"

#include <QCommandLineParser>
#include <QFile>

namespace
{
const QString TcpOption = QStringLiteral("tcp");
const QString UsbOption = QStringLiteral("usb");
const QString SettingsOption = QStringLiteral("settings");
const QString TimeoutOption = QStringLiteral("timeout");
const QString SerialOption = QStringLiteral("serial");

QString where(const LinkChoice &choice)
{
    return choice.host + ':' + QString::number(choice.port);
}

// HOST, HOST:PORT, or [IPv6]:PORT; a bare IPv6 address has no port.
QString readTcpAddress(const QString &text, LinkChoice *choice)
{
    QString host = text;
    QString port;
    if (text.startsWith('[')) {
        const int close = text.indexOf(']');
        if (close < 0 || (close + 1 < text.size() && text.at(close + 1) != ':'))
            return QStringLiteral("--tcp: \"%1\" is not HOST[:PORT]").arg(text);
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else if (text.count(':') == 1) {
        host = text.section(':', 0, 0);
        port = text.section(':', 1);
    }
    if (host.isEmpty())
        return QStringLiteral("--tcp: no host in \"%1\"").arg(text);
    choice->host = host;
    if (!port.isEmpty() || text.endsWith(':')) {
        const std::optional<int> number = wholeNumber(port, 1, 65535);
        if (!number)
            return QStringLiteral("--tcp: \"%1\" is not a port (1 to 65535)").arg(port);
        choice->port = *number;
        return QString();
    }
    // The panel knows the instrument's port from its settings file.
    const std::optional<NetworkSettingsFile::Settings> settings = NetworkSettingsFile().read();
    if (!settings || settings->port < 1)
        return QStringLiteral("--tcp: no port given, and none in ipdata.vnf in the working folder");
    choice->port = settings->port;
    return QString();
}

QString readSettingsFile(const QString &path, LinkChoice *choice)
{
    const std::optional<NetworkSettingsFile::Settings> settings = NetworkSettingsFile(path).read();
    if (!settings)
        return QStringLiteral("cannot read the settings file \"%1\"").arg(path);
    if (settings->ipAddress.isEmpty() || settings->port < 1)
        return QStringLiteral("the settings file \"%1\" holds no address and port").arg(path);
    choice->host = settings->ipAddress;
    choice->port = settings->port;
    return QString();
}

// A TCP/IP instrument that did not identify as expected keeps its link up;
// its identification tells silence from another instrument, and names it.
int refuseTcpIdentity(const InstrumentSession &session, const LinkChoice &choice)
{
    const QString identity = session.identification();
    if (identity.isEmpty())
        return fail(ExitCode::NoLink,
                    QStringLiteral("no identification reply from %1").arg(where(choice)));
    return fail(ExitCode::Refused, QStringLiteral("%1 is not the expected instrument: it "
                                                  "identifies as \"%2\"; nothing was sent")
                                       .arg(where(choice), identity));
}

int openTcp(InstrumentSession &session, const LinkChoice &choice)
{
    const std::optional<QString> result = session.connectTcp(choice.host, choice.port);
    if (!result)
        return fail(ExitCode::NoLink, QStringLiteral("no answer from %1 within %2 ms")
                                          .arg(where(choice))
                                          .arg(choice.timeoutMs));
    if (*result == QLatin1String("-2") || !session.status().tcpConnected)
        return fail(ExitCode::NoLink, QStringLiteral("cannot connect to %1").arg(where(choice)));
    if (result->isEmpty())
        return refuseTcpIdentity(session, choice);
    return ExitCode::Done;
}

int openUsb(InstrumentSession &session, const LinkChoice &choice)
{
    const std::optional<QString> result = session.connectUsb(choice.serial);
    if (!result)
        return fail(ExitCode::NoLink, QStringLiteral("no answer from the USB instruments within "
                                                     "%1 ms")
                                          .arg(choice.timeoutMs));
    const QString serial = choice.serial.isEmpty()
                               ? QString()
                               : QStringLiteral(" with serial number \"%1\"").arg(choice.serial);
    if (*result == QLatin1String("-2"))
        return fail(ExitCode::NoLink, QStringLiteral("no USB instrument%1 found").arg(serial));
    if (*result == QLatin1String("-1"))
        return fail(ExitCode::Refused, QStringLiteral("no USB instrument could be opened that "
                                                      "identifies as the expected model%1")
                                           .arg(serial));
    return ExitCode::Done;
}
} // namespace

QList<QCommandLineOption> linkOptions()
{
    return {
        {TcpOption,
         QStringLiteral("Connect over TCP/IP to HOST, at PORT or at the port in "
                        "ipdata.vnf."),
         QStringLiteral("HOST[:PORT]")},
        {UsbOption, QStringLiteral("Connect over USB only.")},
        {SettingsOption,
         QStringLiteral("Connect over TCP/IP to the address in this settings "
                        "file (four lines, as the panel keeps ipdata.vnf)."),
         QStringLiteral("FILE")},
        {SerialOption,
         QStringLiteral("Connect over USB to the instrument with this serial number only."),
         QStringLiteral("SN")},
        {TimeoutOption,
         QStringLiteral("Longest wait for the instrument to connect or to answer one request, "
                        "in milliseconds (default %1).")
             .arg(LinkChoice::DefaultTimeoutMs),
         QStringLiteral("MS")},
    };
}

QString readLinkChoice(const QCommandLineParser &parser, LinkChoice *choice)
{
    const int chosen = int(parser.isSet(TcpOption)) + int(parser.isSet(UsbOption)) +
                       int(parser.isSet(SettingsOption));
    if (chosen > 1)
        return QStringLiteral("choose one of --tcp, --usb and --settings");
    if (parser.isSet(TimeoutOption)) {
        const std::optional<int> ms = wholeNumber(parser.value(TimeoutOption), 1);
        if (!ms)
            return QStringLiteral("--timeout: \"%1\" is not a number of milliseconds")
                .arg(parser.value(TimeoutOption));
        choice->timeoutMs = *ms;
    }
    if (parser.isSet(SerialOption)) {
        if (parser.isSet(TcpOption) || parser.isSet(SettingsOption))
            return QStringLiteral("--serial picks a USB instrument; it does not go with --tcp "
                                  "or --settings");
        choice->serial = parser.value(SerialOption).trimmed();
        if (choice->serial.isEmpty())
            return QStringLiteral("--serial: no serial number given");
    }
    if (parser.isSet(UsbOption) || parser.isSet(SerialOption))
        choice->kind = LinkChoice::Usb;
    if (parser.isSet(TcpOption)) {
        choice->kind = LinkChoice::Tcp;
        return readTcpAddress(parser.value(TcpOption), choice);
    }
    if (parser.isSet(SettingsOption)) {
        choice->kind = LinkChoice::Tcp;
        return readSettingsFile(parser.value(SettingsOption), choice);
    }
    return QString();
}

int openLink(InstrumentSession &session, const LinkChoice &choice)
{
    switch (choice.kind) {
    case LinkChoice::Tcp:
        return openTcp(session, choice);
    case LinkChoice::Usb:
        return openUsb(session, choice);
    case LinkChoice::Auto:
        break;
    }
    const int usb = openUsb(session, choice);
    if (usb == ExitCode::Done || session.stuck())
        return usb;
    const QString file = QString::fromLatin1(NetworkSettingsFile::DefaultFileName);
    if (!QFile::exists(file))
        return fail(usb, QStringLiteral("and no %1 in the working folder to connect over "
                                        "TCP/IP")
                             .arg(file));
    LinkChoice tcp = choice;
    const QString problem = readSettingsFile(file, &tcp);
    if (!problem.isEmpty())
        return fail(ExitCode::NoLink, problem);
    return openTcp(session, tcp);
}
