#include "peerslots.h"

#include "servelog.h"

#include <QTcpSocket>

namespace
{
// Addresses whose refusals are counted quietly at most; beyond them each is
// logged, so the count itself stays bounded too.
constexpr int MaxQuietAddresses = 256;

// An IPv4 peer seen through an IPv6 socket is the same host as seen
// through an IPv4 one.
QString addressOf(const QHostAddress &peer)
{
    bool v4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&v4);
    return v4 ? QHostAddress(ipv4).toString() : peer.toString();
}
} // namespace

PeerSlots::PeerSlots(const QString &service, const AccessList &access, int maxTotal,
                     int maxPerAddress, QObject *parent)
    : QObject(parent), service(service), access(access), maxTotal(maxTotal),
      maxPerAddress(maxPerAddress)
{
}

bool PeerSlots::admit(QTcpSocket *socket)
{
    const QString address = addressOf(socket->peerAddress());
    const QString reason =
        access.allows(socket->peerAddress()) ? refusal(address) : QStringLiteral("not in --allow");
    if (!reason.isEmpty()) {
        logRefusal(endpointName(socket->peerAddress(), socket->peerPort()), address, reason);
        socket->abort();
        socket->deleteLater();
        return false;
    }
    ++total;
    ++held[address];
    connect(socket, &QObject::destroyed, this, [this, address] { release(address); });
    return true;
}

QString PeerSlots::refusal(const QString &address) const
{
    if (total >= maxTotal)
        return QStringLiteral("%1 connections are open already").arg(total);
    if (held.value(address) >= maxPerAddress)
        return QStringLiteral("%1 connections from %2 are open already")
            .arg(held.value(address))
            .arg(address);
    return {};
}

void PeerSlots::logRefusal(const QString &peer, const QString &address, const QString &reason)
{
    const auto found = quiet.find(address);
    if (found != quiet.end()) {
        ++*found;
        return;
    }
    serveLogRepeated(kindOfRefusal(),
                     QStringLiteral("refused %1 client %2: %3").arg(service, peer, reason));
    if (quiet.size() < MaxQuietAddresses)
        quiet.insert(address, 0);
}

QString PeerSlots::kindOfRefusal() const
{
    return QStringLiteral("refused %1 clients").arg(service);
}

// A slot is free: a refused address may get one now, and its next refusal
// is news again.
void PeerSlots::release(const QString &address)
{
    --total;
    const auto found = held.find(address);
    if (found != held.end() && --*found <= 0)
        held.erase(found);
    for (auto q = quiet.cbegin(); q != quiet.cend(); ++q) {
        if (q.value() > 0)
            serveLogRepeated(kindOfRefusal(),
                             QStringLiteral("refused %1 more %2 clients from %3")
                                 .arg(q.value())
                                 .arg(service, q.key()),
                             q.value());
    }
    quiet.clear();
}
