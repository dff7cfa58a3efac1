#ifndef LXIIDENTITY_H
#define LXIIDENTITY_H

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// Where the server's services are reached, for the LXI identification
// document: the address they listen on and their ports.
struct HttpIdentity {
    QHostAddress listen;
    quint16 rawPort = 0;
    bool vxi11 = false;
    quint16 httpPort = 0;
    // The host's name, for the document's Hostname.
    QString hostname;
};

// One address of this host, with what the identification document says of
// the interface that carries it.
struct HostInterface {
    QString name;
    QHostAddress address;
    // "255.255.255.0"; for IPv6 the prefix length ("64").
    QString mask;
    QString mac;
    // The default route's next hop through this interface; the unspecified
    // address of the family when there is none.
    QHostAddress gateway;
    // Only what the system shows for sure: an IPv4 address that expires
    // was leased, so DHCP is on; a permanent one may still have come by
    // DHCP, which the system does not record, and counts as not.
    bool dhcp = false;
};

// The addresses the services listen as: `listen` itself with its
// interface, or for a wildcard every address of the family (both families
// for the IPv6 one) on the interfaces that are up, IPv6 link-local ones
// excepted, and loopback ones only when there is nothing else. Read afresh
// from the system on each call.
QList<HostInterface> interfacesCarrying(const QHostAddress &listen);

// The next hop of the default route through `interface` in the text of
// /proc/net/route (IPv4) or /proc/net/ipv6_route (IPv6), or the unspecified
// address when it has none.
QHostAddress defaultGateway(const QByteArray &routeTable, const QString &interface,
                            QAbstractSocket::NetworkLayerProtocol family);

// The VISA resource strings of the services at `host`, IPv6 in brackets:
// "TCPIP::[::1]::5025::SOCKET", and with VXI-11 "TCPIP::[::1]::INSTR".
QStringList visaAddresses(const QHostAddress &host, const HttpIdentity &identity);

#endif
