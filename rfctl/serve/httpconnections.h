#ifndef HTTPCONNECTIONS_H
#define HTTPCONNECTIONS_H

#include <QElapsedTimer>
#include <QHostAddress>
#include <map>

struct MHD_Connection;

// The web service's connections, as the service bounds them beyond
// libmicrohttpd's own limits: each request head must be whole within the head
// deadline of the connection's opening or of its last reply, and while every
// place is taken a new client takes the place of the oldest connection whose
// head is not whole yet, so that clients trickling their heads shut out no
// one who sends a request at once.
//
// A connection is dropped by shutting its socket down, which the daemon
// notices at its next turn. Used on the daemon's thread only.
class HttpConnections
{
public:
    HttpConnections(unsigned maxConnections, int headDeadlineMs);

    // What the daemon tells of each connection.
    void opened(MHD_Connection *connection, int socket, const QHostAddress &peer);
    void closed(MHD_Connection *connection);
    void requestLineRead(MHD_Connection *connection);
    void headRead(MHD_Connection *connection);
    void replied(MHD_Connection *connection);

    // Room for one more connection, made if need be; false when every
    // connection is busy with a whole request.
    bool makeRoom();
    void dropLateHeads();
    // A connection has begun a request and not had its reply yet.
    bool requestsUnderWay() const;
    // Open and not dropped.
    quint64 live() const;

private:
    struct Connection {
        int socket;
        QHostAddress peer;
        // When it opened or its last reply was sent.
        qint64 since;
        bool requestLine = false;
        bool headWhole = false;
        bool served = false;
        bool dropped = false;
    };
    Connection *find(MHD_Connection *connection);
    void drop(Connection &c, const QString &why);

    const unsigned maxConnections;
    const int headDeadlineMs;
    QElapsedTimer clock;
    std::map<MHD_Connection *, Connection> connections;
};

#endif
