#include "vxi11server.h"

#include "servelog.h"
#include "vxi11session.h"

#include <QTcpSocket>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>

Vxi11Server::Vxi11Server(SharedLink &link, const AccessList &access, QObject *parent)
    : QObject(parent),
      admission(QStringLiteral("vxi11"), access, MaxConnections, MaxConnectionsPerAddress),
      links(&link)
{
    connect(&server, &QTcpServer::newConnection, this, &Vxi11Server::accept);
}

Vxi11Server::~Vxi11Server()
{
    // Sessions go first: they hand their links back to `links`.
    qDeleteAll(findChildren<Vxi11Session *>(QString(), Qt::FindDirectChildrenOnly));
    if (registered)
        pmap_unset(Vxi11Session::Program, Vxi11Session::Version);
}

bool Vxi11Server::listen(const QHostAddress &address, QString *error)
{
    if (!server.listen(address)) {
        *error = QStringLiteral("vxi11: cannot listen on %1: %2")
                     .arg(address.toString(), server.errorString());
        return false;
    }
    pmap_unset(Vxi11Session::Program, Vxi11Session::Version);
    registered =
        pmap_set(Vxi11Session::Program, Vxi11Session::Version, IPPROTO_TCP, server.serverPort());
    if (!registered)
        serveLog(QStringLiteral("vxi11: the portmapper (rpcbind) did not take the registration; "
                                "clients that ask it cannot find port %1")
                     .arg(server.serverPort()));
    return true;
}

QString Vxi11Server::serviceLine() const
{
    return QStringLiteral("vxi11 ") + endpointName(server.serverAddress(), server.serverPort());
}

void Vxi11Server::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (admission.admit(socket))
            (new Vxi11Session(socket, &links))->setParent(this);
    }
}
