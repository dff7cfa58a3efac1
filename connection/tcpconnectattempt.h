#ifndef TCPCONNECTATTEMPT_H
#define TCPCONNECTATTEMPT_H

#include <QHostAddress>
#include <QList>
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
    // Connects `socket` to the first of `addresses`, in their order, that
    // takes a connection on `port`, all within `waitMs`: each address gets an
    // equal share of the time left, so one that never answers leaves time
    // for the rest. False when none did in time or the worker was asked to
    // stop.
    static bool connectFirst(const QList<QHostAddress> &addresses, quint16 port, int waitMs,
                             QAbstractSocket *socket);
    // The interface index an IPv6 scope names: a decimal index as it stands,
    // otherwise the interface's name; 0 for none.
    static quint32 scopeIndex(const QString &scopeId);

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
