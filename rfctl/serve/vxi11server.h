#ifndef VXI11SERVER_H
#define VXI11SERVER_H

#include "accesslist.h"
#include "peerslots.h"
#include "vxi11links.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

// The VXI-11 core channel (ONC RPC program 0x0607AF, version 1, over TCP)
// in front of the shared link. Its port is registered with the portmapper,
// since VXI-11 clients always ask the portmapper for it.
class Vxi11Server : public QObject
{
    Q_OBJECT
public:
    // Connections served at once; one more is closed at once, with a log
    // line. Each holds at most Vxi11Links::MaxLinksPerConnection links.
    static constexpr int MaxConnections = 32;
    // Connections from one address at once, so that one host cannot take
    // every connection.
    static constexpr int MaxConnectionsPerAddress = 8;

    Vxi11Server(SharedLink &link, const AccessList &access, QObject *parent = nullptr);
    // Unregisters from the portmapper.
    ~Vxi11Server() override;

    // Listens on a free port of `address` and registers it with the
    // portmapper of this machine, first dropping a registration that a
    // killed server may have left. False with the reason in `error` when
    // there is no port; a portmapper that does not take the registration is
    // only logged, as clients that know the port can still come.
    bool listen(const QHostAddress &address, QString *error);
    // "vxi11 127.0.0.1:PORT", with the port taken.
    QString serviceLine() const;

private:
    void accept();

    PeerSlots admission;
    QTcpServer server;
    Vxi11Links links;
    bool registered = false;
};

#endif
