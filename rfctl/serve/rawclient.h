#ifndef RAWCLIENT_H
#define RAWCLIENT_H

#include "sharedlink.h"

#include <QObject>

class QTcpSocket;

// One client of the raw server: frames its input into lines, submits them
// in order and writes back the replies. Deletes itself when the client goes;
// deleted otherwise (with its server), it leaves the link all the same.
class RawClient : public QObject
{
    Q_OBJECT
public:
    // Takes `socket` over; `peer` names it in the log.
    RawClient(QTcpSocket *socket, const QString &peer, SharedLink &link, QObject *parent);
    ~RawClient() override;

private:
    void readLines();
    void takeLine(QByteArray line);
    void replied(const SharedLink::Outcome &outcome);
    void drop(const QString &reason);
    void leave();

    QTcpSocket *const socket;
    SharedLink &link;
    const QString peer;
    const SharedLink::ClientId id;
    int waiting = 0;
    bool discarding = false; // inside an over-long line, up to its line feed
    bool gone = false;
};

#endif
