#ifndef REQUESTQUEUE_H
#define REQUESTQUEUE_H

#include "sharedlink.h"

#include <QHash>
#include <QList>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <utility>

// The requests a SharedLink holds until the instrument is free, and the
// bytes of request text they take, per client and in all. Client 0 stands
// for the link's own checks.
//
// Clients take turns: a client with a long queue of slow requests delays
// each other client by about one request, not by all of them.
class SharedLink::RequestQueue
{
public:
    // Adds the request behind the client's queued ones, or with `first`
    // ahead of them.
    void push(const Request &request, bool first = false);
    // Takes the request to send next, if any: the link's own first; while a
    // client (`lockHolder`, 0 for none) holds the lock, its own only;
    // otherwise the oldest of the client served longest ago. Each client's
    // requests go in the order they came. Costs the same however many
    // requests a client has queued.
    std::optional<Request> takeNext(ClientId lockHolder);
    // Calls `taken` on every queued request, which may change it, and takes
    // those it says yes to out of the queue; each client's in their order.
    QList<Request> takeIf(const std::function<bool(Request &)> &taken);
    // Drops the client's queued requests; with `gone` (the client left),
    // also when it was last served.
    void drop(ClientId client, bool gone = false);

    qint64 bytes() const;
    qint64 bytes(ClientId client) const;

private:
    // One client's requests, oldest first.
    struct Line {
        std::deque<Request> requests;
        qint64 bytes = 0;
        // When it was last served, counted in requests served; 0: never.
        quint64 served = 0;
    };
    // A client with queued requests, by when it was last served.
    using Turn = std::pair<quint64, ClientId>;

    Request takeFront(Line &line);

    QHash<ClientId, Line> lines;
    // Clients other than 0 with queued requests, the one served longest ago
    // first.
    std::set<Turn> turns;
    quint64 servedCount = 0;
    qint64 total = 0;
};

#endif
