#ifndef NATIVESOCKET_H
#define NATIVESOCKET_H

#include <QtGlobal>

// The system's own socket calls, for test clients that need what QTcpSocket
// hides: buffer sizes, a listener's backlog, a half close.
#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
constexpr int ShutdownSending = SD_SEND;
constexpr int NoBrokenPipeSignal = 0;
inline int closeSocket(NativeSocket s)
{
    return ::closesocket(s);
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
constexpr int ShutdownSending = SHUT_WR;
constexpr int NoBrokenPipeSignal = MSG_NOSIGNAL;
inline int closeSocket(NativeSocket s)
{
    return ::close(s);
}
#endif

// A TCP socket of the system's own, in a process that may not have started
// its socket library yet.
inline NativeSocket openTcpSocket()
{
#ifdef Q_OS_WIN
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    Q_UNUSED(started)
#endif
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

#endif
