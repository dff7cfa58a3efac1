#ifndef TCPCONNECTATTEMPT_H
#define TCPCONNECTATTEMPT_H

#include <QHostAddress>
#include <QtGlobal>

class QAbstractSocket;

// A TCP connection attempt that never blocks for longer than its caller
// asks, so that the caller can look between short waits whether to give up.
// QAbstractSocket offers no such wait: waitForConnected abandons the attempt
// when a wait times out, and its asynchronous connect needs the thread's
// event loop.
class TcpConnectAttempt
{
public:
    // Starts connecting to `address`:`port`.
    TcpConnectAttempt(const QHostAddress &address, quint16 port);
    // Closes the socket unless handTo() handed it over.
    ~TcpConnectAttempt();
    TcpConnectAttempt(const TcpConnectAttempt &) = delete;
    TcpConnectAttempt &operator=(const TcpConnectAttempt &) = delete;

    // Waits at most `ms`; true once the attempt has ended, connected or not.
    bool waitEnded(int ms);
    // Hands the connected socket to `socket`, which is then connected;
    // false when the attempt failed or has not ended (it is given up then).
    bool handTo(QAbstractSocket *socket);

private:
    void finish(bool success);

    qintptr descriptor = -1;
    bool ended = false;
    bool connected = false;
};

#endif
