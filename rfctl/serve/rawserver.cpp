#include "rawserver.h"

#include "rawclient.h"
#include "servelog.h"

#include <QTcpSocket>

RawServer::RawServer(SharedLink &link, const AccessList &access, QObject *parent)
    : QObject(parent), link(link),
      admission(QStringLiteral("raw"), access, MaxClients, MaxClientsPerAddress)
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
        if (admission.admit(socket))
            new RawClient(socket, endpointName(socket->peerAddress(), socket->peerPort()), link,
                          this);
    }
}
