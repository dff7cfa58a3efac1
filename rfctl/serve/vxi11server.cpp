#include "vxi11server.h"

#include "vxi11session.h"

#include <QTcpSocket>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>

namespace
{
const u_long Program = 0x0607AF;
const u_long Version = 1;
} // namespace

Vxi11Server::Vxi11Server(SharedLink *shared, QObject *parent)
    : QObject(parent), links(shared), acceptPeer([](const QHostAddress &) { return true; })
{
    connect(&server, &QTcpServer::newConnection, this, &Vxi11Server::acceptConnections);
}

Vxi11Server::~Vxi11Server()
{
    // Sessions go first: they hand their links back to `links`.
    qDeleteAll(findChildren<Vxi11Session *>(QString(), Qt::FindDirectChildrenOnly));
    if (registered)
        pmap_unset(Program, Version);
}

void Vxi11Server::setPeerFilter(const std::function<bool(const QHostAddress &)> &accept)
{
    acceptPeer = accept;
}

QString Vxi11Server::listen(const QHostAddress &address, quint16 port)
{
    if (server.listen(address, port))
        return QString();
    return QStringLiteral("vxi11: cannot listen on %1:%2: %3")
        .arg(address.toString())
        .arg(port)
        .arg(server.errorString());
}

QString Vxi11Server::registerPort()
{
    pmap_unset(Program, Version);
    registered = pmap_set(Program, Version, IPPROTO_TCP, server.serverPort());
    return registered ? QString()
                      : QStringLiteral("vxi11: the portmapper (rpcbind) did not take the "
                                       "registration; clients cannot find port %1")
                            .arg(server.serverPort());
}

void Vxi11Server::acceptConnections()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (!acceptPeer(socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        (new Vxi11Session(socket, &links))->setParent(this);
    }
}
