#include "httphosts.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QUrl>
#include <optional>

namespace
{
bool isPort(const QByteArray &text)
{
    // A URI may give an empty port.
    if (text.size() > 5)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The address in `text` when it is one written in full; a scope, as a URI
// writes it ("%25eth0"), is left out.
std::optional<QHostAddress> addressIn(const QByteArray &text, bool bracketed)
{
    QByteArray bare = text;
    if (const int scope = bare.indexOf('%'); bracketed && scope >= 0)
        bare.truncate(scope);
    QHostAddress address;
    if (!address.setAddress(QString::fromLatin1(bare)))
        return std::nullopt;
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    // Qt also reads "0" or "1.2.3" as IPv4 addresses; a Host never means them.
    if (ipv6 != bracketed || (!ipv6 && address.toString() != QString::fromLatin1(bare)))
        return std::nullopt;
    return address;
}

// A name as a browser sends it in Host: an international one in its ASCII
// form ("bücher.lab" as "xn--bcher-kva.lab").
QString asSent(const QString &name)
{
    const QByteArray ace = QUrl::toAce(name);
    return (ace.isEmpty() ? name : QString::fromLatin1(ace)).toLower();
}
} // namespace

HttpHosts::HttpHosts(const QHostAddress &address, const QStringList &extra) : listen(address)
{
    for (const QString &name : extra)
        names += asSent(name);
    listen.setScopeId(QString());
    if (listen.isLoopback()) {
        names += QStringLiteral("localhost");
    } else {
        const QString host = asSent(QHostInfo::localHostName());
        names += {host, host + QStringLiteral(".local")};
    }
}

bool HttpHosts::accepts(const QByteArray &host) const
{
    QByteArray name = host;
    const bool bracketed = name.startsWith('[');
    const int portAt = bracketed ? name.indexOf("]:") + 1 : name.lastIndexOf(':');
    if (portAt > 0) {
        if (!isPort(name.mid(portAt + 1)))
            return false;
        name.truncate(portAt);
    }
    if (bracketed) {
        if (!name.endsWith(']'))
            return false;
        name = name.mid(1, name.size() - 2);
    }
    if (const std::optional<QHostAddress> address = addressIn(name, bracketed))
        return acceptsAddress(*address);
    if (name.endsWith('.'))
        name.chop(1);
    return !bracketed && !name.isEmpty() && names.contains(QString::fromLatin1(name).toLower());
}

bool HttpHosts::acceptsAddress(const QHostAddress &address) const
{
    if (listen.isLoopback())
        return address.isLoopback();
    if (listen != QHostAddress(QHostAddress::AnyIPv4) &&
        listen != QHostAddress(QHostAddress::AnyIPv6))
        return address.isEqual(listen, QHostAddress::ConvertV4MappedToIPv4);
    for (QHostAddress own : QNetworkInterface::allAddresses()) {
        own.setScopeId(QString());
        if (own.isEqual(address, QHostAddress::ConvertV4MappedToIPv4))
            return true;
    }
    return false;
}
