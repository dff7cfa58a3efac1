#include "httpconnections.h"

#include "servelog.h"

#include <sys/socket.h>

HttpConnections::HttpConnections(unsigned maxConnections, int headDeadlineMs)
    : maxConnections(maxConnections), headDeadlineMs(headDeadlineMs)
{
    clock.start();
}

void HttpConnections::opened(MHD_Connection *connection, int socket, const QHostAddress &peer)
{
    connections[connection] = {socket, peer, clock.elapsed()};
}

void HttpConnections::closed(MHD_Connection *connection)
{
    connections.erase(connection);
}

void HttpConnections::requestLineRead(MHD_Connection *connection)
{
    if (Connection *c = find(connection))
        c->requestLine = true;
}

void HttpConnections::headRead(MHD_Connection *connection)
{
    if (Connection *c = find(connection))
        c->headWhole = true;
}

void HttpConnections::replied(MHD_Connection *connection)
{
    if (Connection *c = find(connection)) {
        c->since = clock.elapsed();
        c->requestLine = c->headWhole = false;
        c->served = true;
    }
}

bool HttpConnections::makeRoom()
{
    if (live() < maxConnections)
        return true;
    Connection *oldest = nullptr;
    for (auto &[key, c] : connections)
        if (!c.dropped && !c.headWhole && (!oldest || c.since < oldest->since))
            oldest = &c;
    if (oldest)
        drop(*oldest, QStringLiteral("every connection is taken, and its request was the slowest"));
    return oldest;
}

void HttpConnections::dropLateHeads()
{
    const qint64 late = clock.elapsed() - headDeadlineMs;
    for (auto &[key, c] : connections)
        if (!c.dropped && !c.headWhole && c.since <= late)
            drop(c, QStringLiteral("no whole request within %1 s")
                        .arg(QString::number(headDeadlineMs / 1000.0)));
}

bool HttpConnections::headWasRead(MHD_Connection *connection)
{
    const Connection *c = find(connection);
    return c && c->headWhole;
}

bool HttpConnections::requestsUnderWay() const
{
    for (const auto &[key, c] : connections)
        if (!c.dropped && (c.requestLine || c.headWhole))
            return true;
    return false;
}

quint64 HttpConnections::live() const
{
    quint64 n = 0;
    for (const auto &[key, c] : connections)
        n += c.dropped ? 0 : 1;
    return n;
}

HttpConnections::Connection *HttpConnections::find(MHD_Connection *connection)
{
    const auto found = connections.find(connection);
    return found == connections.end() ? nullptr : &found->second;
}

// A connection idle after its replies goes quietly; one that was sending a
// request is named.
void HttpConnections::drop(Connection &c, const QString &why)
{
    ::shutdown(c.socket, SHUT_RDWR);
    c.dropped = true;
    if (!c.served || c.requestLine)
        serveLogRepeated(QStringLiteral("closed http connections"),
                         QStringLiteral("http: closed %1: %2").arg(c.peer.toString(), why));
}
