#ifndef SERVELOAD_H
#define SERVELOAD_H

#include <QByteArray>
#include <vector>

// Many clients querying at once for a while, each on its own thread.
struct LoadClient {
    enum Kind { Raw, Vxi11 };
    Kind kind;
    quint16 port;
};

struct LoadFigures {
    double queriesPerSecond = 0;
    // The 99th percentile of the client whose is highest, in microseconds.
    double worstP99Us = 0;
    // False when a client could not connect or a query got no reply.
    bool ok = false;
};

// Every client sends `query` again as soon as it has its reply, for `seconds`.
LoadFigures runLoad(const std::vector<LoadClient> &clients, const QByteArray &query, int seconds);

#endif
