#ifndef PEERSLOTS_H
#define PEERSLOTS_H

#include "accesslist.h"

#include <QHash>
#include <QObject>
#include <QString>

class QTcpSocket;

// Who may hold one of a service's connections: a peer inside the access
// list, while the service holds fewer than its cap in all and the peer's
// address fewer than its own cap, so that no one host can take every
// connection however many it opens.
//
// A refusal is logged with the peer. While an address is being refused, its
// further refusals are only counted, and their number is logged once a
// connection of the service ends; the refusals of many addresses together
// are held to a few lines a period (serveLogRepeated), so that a flood of
// connections cannot flood the log.
class PeerSlots : public QObject
{
    Q_OBJECT
public:
    // `service` names the service in the log ("raw").
    PeerSlots(const QString &service, const AccessList &access, int maxTotal, int maxPerAddress,
              QObject *parent = nullptr);

    // True when `socket` may stay: it holds its slot until it is destroyed.
    // False when it is refused: it is then aborted and deleted later.
    bool admit(QTcpSocket *socket);

private:
    QString refusal(const QString &address) const;
    QString kindOfRefusal() const;
    void logRefusal(const QString &peer, const QString &address, const QString &reason);
    void release(const QString &address);

    const QString service;
    const AccessList access;
    const int maxTotal;
    const int maxPerAddress;
    int total = 0;
    // Slots held, by address; only addresses that hold one are here.
    QHash<QString, int> held;
    // Refusals not logged since the address's first one, by address.
    QHash<QString, int> quiet;
};

#endif
