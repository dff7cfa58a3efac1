#ifndef ACCESSLIST_H
#define ACCESSLIST_H

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>

// The peers a service accepts: every one when no subnet is given, else only
// those inside one of the subnets.
class AccessList
{
public:
    // Reads "ADDR/BITS" or a bare address (that host alone) per entry; a
    // message naming the first entry that is neither, empty otherwise.
    QString read(const QStringList &cidrs);
    // An IPv4 peer seen through an IPv6 socket is judged as IPv4.
    bool allows(const QHostAddress &peer) const;

private:
    QList<QPair<QHostAddress, int>> subnets;
};

#endif
