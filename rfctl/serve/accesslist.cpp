#include "accesslist.h"

QString AccessList::read(const QStringList &cidrs)
{
    for (const QString &cidr : cidrs) {
        QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(cidr);
        if (subnet.first.isNull())
            return QStringLiteral("--allow: \"%1\" is not an address or ADDR/BITS").arg(cidr);
        subnets.append(subnet);
    }
    return QString();
}

bool AccessList::allows(const QHostAddress &peer) const
{
    if (subnets.isEmpty())
        return true;
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    const QHostAddress address = isV4 ? QHostAddress(v4) : peer;
    for (const auto &subnet : subnets) {
        if (address.isInSubnet(subnet))
            return true;
    }
    return false;
}
