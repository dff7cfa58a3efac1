#include "lxiidentity.h"

#include <QFile>
#include <QNetworkInterface>
#include <QtEndian>

namespace
{
bool isWildcard(const QHostAddress &address)
{
    return address == QHostAddress(QHostAddress::AnyIPv4) ||
           address == QHostAddress(QHostAddress::AnyIPv6);
}

bool fits(const QHostAddress &listen, const QHostAddress &address)
{
    if (!isWildcard(listen))
        return address.isEqual(listen, QHostAddress::StrictConversion) &&
               address.scopeId() == listen.scopeId();
    // An IPv6 link-local address is the wildcard's too, but needs its scope,
    // which means nothing on another host: no address to give out.
    if (address.protocol() == QAbstractSocket::IPv6Protocol && address.isLinkLocal())
        return false;
    return listen == QHostAddress(QHostAddress::AnyIPv6) ||
           address.protocol() == QAbstractSocket::IPv4Protocol;
}

QByteArray routeTable(QAbstractSocket::NetworkLayerProtocol family)
{
    QFile file(family == QAbstractSocket::IPv6Protocol ? QStringLiteral("/proc/net/ipv6_route")
                                                       : QStringLiteral("/proc/net/route"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HostInterface describe(const QNetworkInterface &interface, const QNetworkAddressEntry &entry)
{
    const auto family = entry.ip().protocol();
    const bool ipv6 = family == QAbstractSocket::IPv6Protocol;
    return {interface.name(),
            entry.ip(),
            ipv6 ? QString::number(entry.prefixLength()) : entry.netmask().toString(),
            interface.hardwareAddress(),
            defaultGateway(routeTable(family), interface.name(), family),
            !ipv6 && !entry.isPermanent()};
}

// IPv6 in the 32 hexadecimal digits of /proc/net/ipv6_route.
QHostAddress ipv6FromHex(const QByteArray &hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (hex.size() != 32 || bytes.size() != 16)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const quint8 *>(bytes.constData()));
}
} // namespace

QList<HostInterface> interfacesCarrying(const QHostAddress &listen)
{
    QList<HostInterface> found;
    QList<HostInterface> loopback;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (!fits(listen, entry.ip()))
                continue;
            (entry.ip().isLoopback() ? loopback : found) += describe(interface, entry);
        }
    }
    return found.isEmpty() ? loopback : found;
}

QHostAddress defaultGateway(const QByteArray &table, const QString &interface,
                            QAbstractSocket::NetworkLayerProtocol family)
{
    const bool ipv6 = family == QAbstractSocket::IPv6Protocol;
    const QByteArray name = interface.toUtf8();
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (ipv6 && f.size() >= 10 && f[9] == name && f[0].count('0') == 32 && f[1] == "00") {
            const QHostAddress hop = ipv6FromHex(f[4]);
            if (!hop.isNull() && hop != QHostAddress(QHostAddress::AnyIPv6))
                return hop;
        } else if (!ipv6 && f.size() >= 8 && f[0] == name && f[1] == "00000000" &&
                   f[7] == "00000000") {
            bool ok = false;
            // The kernel prints the address's bytes in network order as a
            // number of the host's order.
            const quint32 hop = f[2].toUInt(&ok, 16);
            if (ok && hop != 0)
                return QHostAddress(qFromBigEndian(hop));
        }
    }
    return QHostAddress(ipv6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4);
}

QStringList visaAddresses(const QHostAddress &host, const HttpIdentity &identity)
{
    const QString name = host.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + host.toString() + ']'
                             : host.toString();
    QStringList addresses{QStringLiteral("TCPIP::%1::%2::SOCKET").arg(name).arg(identity.rawPort)};
    if (identity.vxi11)
        addresses += QStringLiteral("TCPIP::%1::INSTR").arg(name);
    return addresses;
}
