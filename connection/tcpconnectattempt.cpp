#include "tcpconnectattempt.h"

#include "workerwait.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{
#ifdef Q_OS_WIN
using Native = SOCKET;
const Native invalidSocket = INVALID_SOCKET;

bool prepare(Native s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
bool inProgress()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
// select, unlike WSAPoll, reports a refused connection: as an exception.
int pollOne(Native s, int ms)
{
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval wait = {ms / 1000, (ms % 1000) * 1000};
    return select(0, nullptr, &writable, &failed, &wait);
}
void closeNative(Native s)
{
    closesocket(s);
}
#else
using Native = int;
const Native invalidSocket = -1;

// Non-blocking, and not inherited by programs the panel starts.
bool prepare(Native s)
{
    return ::fcntl(s, F_SETFD, FD_CLOEXEC) == 0 &&
           ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK) == 0;
}
bool inProgress()
{
    // Interrupted, a non-blocking connect goes on by itself.
    return errno == EINPROGRESS || errno == EINTR;
}
int pollOne(Native s, int ms)
{
    pollfd watched = {s, POLLOUT, 0};
    return ::poll(&watched, 1, ms);
}
void closeNative(Native s)
{
    ::close(s);
}
#endif

// The socket address of `address`:`port`; its length, 0 for no IP address.
socklen_t socketAddress(const QHostAddress &address, quint16 port, sockaddr_storage *out)
{
    std::memset(out, 0, sizeof *out);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *v4 = reinterpret_cast<sockaddr_in *>(out);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof *v4;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(out);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        v6->sin6_scope_id = TcpConnectAttempt::scopeIndex(address.scopeId());
        return sizeof *v6;
    }
    return 0;
}

// Whether the socket, writable or failed, has connected.
bool hasConnected(Native s)
{
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) == 0 &&
           error == 0;
}
} // namespace

bool TcpConnectAttempt::connectFirst(const QList<QHostAddress> &addresses, quint16 port, int waitMs,
                                     QAbstractSocket *socket)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < addresses.size() && !workerStopRequested(); ++i) {
        const int share = (waitMs - int(clock.elapsed())) / int(addresses.size() - i);
        TcpConnectAttempt attempt(addresses.at(i), port);
        WorkerWait::waitInSlices(share, [&attempt](int slice) { return attempt.waitEnded(slice); });
        if (attempt.handTo(socket))
            return true;
    }
    return false;
}

quint32 TcpConnectAttempt::scopeIndex(const QString &scopeId)
{
    bool numeric = false;
    const quint32 index = scopeId.toUInt(&numeric);
    return numeric ? index : quint32(QNetworkInterface::interfaceIndexFromName(scopeId));
}

TcpConnectAttempt::TcpConnectAttempt(const QHostAddress &address, quint16 port)
{
#ifdef Q_OS_WIN
    // Started once for the process: the panel may connect before Qt's own
    // sockets have started Winsock.
    static const bool winsockStarted = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!winsockStarted) {
        finish(false);
        return;
    }
#endif
    sockaddr_storage where;
    const socklen_t length = socketAddress(address, port, &where);
    const Native s = length ? ::socket(where.ss_family, SOCK_STREAM, IPPROTO_TCP) : invalidSocket;
    if (s == invalidSocket) {
        finish(false);
        return;
    }
    descriptor = qintptr(s);
    if (!prepare(s)) {
        finish(false);
        return;
    }
    if (::connect(s, reinterpret_cast<const sockaddr *>(&where), length) == 0)
        finish(true);
    else if (!inProgress())
        finish(false);
}

TcpConnectAttempt::~TcpConnectAttempt()
{
    if (descriptor != -1)
        closeNative(Native(descriptor));
}

bool TcpConnectAttempt::waitEnded(int ms)
{
    // A connecting socket turns writable once connected or failed; its
    // error then tells which.
    if (!ended && pollOne(Native(descriptor), ms) > 0)
        finish(hasConnected(Native(descriptor)));
    return ended;
}

bool TcpConnectAttempt::handTo(QAbstractSocket *socket)
{
    if (!connected || !socket->setSocketDescriptor(descriptor))
        return false;
    descriptor = -1;
    return true;
}

void TcpConnectAttempt::finish(bool success)
{
    ended = true;
    connected = success;
}
