#ifndef LOOPBACK_H
#define LOOPBACK_H

#include "nativesocket.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <thread>

// A loopback port that nothing listens on: bound for a moment, then freed.
inline quint16 unusedLoopbackPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A loopback port where a connection attempt is never answered: one
// connection that is never accepted fills its listener's backlog of 0, so
// the system drops every further SYN and a connect waits until it gives up.
class UnansweredLoopbackPort
{
public:
    UnansweredLoopbackPort() : listener(openTcpSocket())
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto *generic = reinterpret_cast<sockaddr *>(&address);
        if (::bind(listener, generic, length) != 0 || ::listen(listener, 0) != 0 ||
            ::getsockname(listener, generic, &length) != 0)
            return;
        filler.connectToHost(QHostAddress::LocalHost, ntohs(address.sin_port));
        if (filler.waitForConnected(2000))
            port = ntohs(address.sin_port);
    }
    ~UnansweredLoopbackPort()
    {
        if (taker.joinable())
            taker.join();
        closeSocket(listener);
    }
    UnansweredLoopbackPort(const UnansweredLoopbackPort &) = delete;
    UnansweredLoopbackPort &operator=(const UnansweredLoopbackPort &) = delete;

    quint16 port = 0; // 0 when no such port could be made

    // After `ms`, the connection filling the backlog is accepted and closed:
    // a connect waiting meanwhile gets through when its SYN is sent again,
    // about a second after it started.
    void answerAfter(int ms)
    {
        taker = std::thread([this, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            closeSocket(::accept(listener, nullptr, nullptr));
        });
    }

private:
    NativeSocket listener;
    QTcpSocket filler;
    std::thread taker;
};

#endif
