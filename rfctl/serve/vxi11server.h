#ifndef VXI11SERVER_H
#define VXI11SERVER_H

#include "vxi11links.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <functional>

// The VXI-11 core channel (ONC RPC program 0x0607AF, version 1, over TCP)
// in front of the shared link, registered with the portmapper, since VXI-11
// clients always ask it for the port.
class Vxi11Server : public QObject
{
    Q_OBJECT
public:
    explicit Vxi11Server(SharedLink *shared, QObject *parent = nullptr);
    // Unregisters from the portmapper.
    ~Vxi11Server() override;

    // Connections from peers `accept` refuses are closed at once.
    void setPeerFilter(const std::function<bool(const QHostAddress &)> &accept);
    // Listens on `address` and `port` (0 picks a free one). A message for the
    // operator when it cannot, empty otherwise.
    QString listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return server.serverPort(); }
    // Registers the port with the portmapper on this machine, first dropping
    // a registration a killed server may have left. A message for the
    // operator when no portmapper took it, empty otherwise.
    QString registerPort();

private:
    void acceptConnections();

    QTcpServer server;
    Vxi11Links links;
    std::function<bool(const QHostAddress &)> acceptPeer;
    bool registered = false;
};

#endif
