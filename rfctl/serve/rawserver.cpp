#include "rawserver.h"

#include "rawclient.h"
#include "servelog.h"

#include <QTcpSocket>

RawServer::RawServer(SharedLink &link, const AccessList &access, QObject *parent)
    : QObject(parent), link(link), access(access)
{
    connect(&server, &QTcpServer::newConnection, this, &RawServer::accept);
}

bool RawServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (server.listen(address, port))
        return true;
    *error = QStringLiteral("raw: cannot listen on %1: %2")
                 .arg(endpointName(address, port), server.errorString());
    return false;
}

QString RawServer::serviceLine() const
{
    return QStringLiteral("raw ") + endpointName(server.serverAddress(), server.serverPort());
}

void RawServer::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        const QString peer = endpointName(socket->peerAddress(), socket->peerPort());
        QString refusal;
        if (!access.allows(socket->peerAddress()))
            refusal = QStringLiteral("not in --allow");
        else if (clients >= MaxClients)
            refusal = QStringLiteral("%1 clients are connected already").arg(clients);
        if (!refusal.isEmpty()) {
            serveLog(QStringLiteral("refused raw client %1: %2").arg(peer, refusal));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++clients;
        connect(new RawClient(socket, peer, link, this), &QObject::destroyed, this,
                [this] { --clients; });
    }
}
