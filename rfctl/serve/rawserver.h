#ifndef RAWSERVER_H
#define RAWSERVER_H

#include "accesslist.h"
#include "peerslots.h"
#include "sharedlink.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// The instrument's own line protocol on a TCP port, for any number of
// clients at once: every line is a request to the shared link, and a query's
// reply goes back to its client as one line. A query without a reply gets
// nothing back, as from the instrument itself.
class RawServer : public QObject
{
    Q_OBJECT
public:
    // Lines no request comes near; a longer one is dropped whole.
    static constexpr int MaxLineBytes = 64 * 1024;
    // Requests of one client waiting at once; further input stays unread
    // (and TCP slows the client down) until they are served.
    static constexpr int MaxRequestsPerClient = 64;
    // Replies a client may leave unread before it is dropped.
    static constexpr qint64 MaxUnreadOutput = qint64(1024) * 1024;
    // Clients connected at once; a further one is closed at once. With the
    // buffers above, this keeps what all clients can hold in the server to a
    // few tens of MB.
    static constexpr int MaxClients = 32;
    // Clients from one address at once, so that one host cannot take every
    // slot; a client wants one, a test rack a few.
    static constexpr int MaxClientsPerAddress = 8;

    RawServer(SharedLink &link, const AccessList &access, QObject *parent = nullptr);

    // False with the reason in `error` when the port cannot be opened; port 0
    // takes a free one.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // "raw 127.0.0.1:5025", with the port taken.
    QString serviceLine() const;
    quint16 port() const { return server.serverPort(); }

private:
    void accept();

    SharedLink &link;
    PeerSlots admission;
    QTcpServer server;
};

#endif
