#ifndef LOOPBACK_H
#define LOOPBACK_H

#include <QHostAddress>
#include <QTcpServer>

// A loopback port that nothing listens on: bound for a moment, then freed.
inline quint16 unusedLoopbackPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

#endif
