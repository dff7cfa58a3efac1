#ifndef REQUESTQUEUE_H
#define REQUESTQUEUE_H

#include "sharedlink.h"

#include <QHash>
#include <QList>
#include <functional>
#include <optional>

// The requests a SharedLink holds until the instrument is free, and the
// bytes of request text they take, per client and in all. Client 0 stands
// for the link's own checks.
class SharedLink::RequestQueue
{
public:
    // Adds the request behind those queued, or with `first` ahead of them.
    void push(const Request &request, bool first = false);
    // Takes the request to send next, if any: the link's own first, then,
    // while a client (`lockHolder`, 0 for none) holds the lock, its own
    // only; otherwise the oldest.
    std::optional<Request> takeNext(ClientId lockHolder);
    // Calls `taken` on every queued request, which may change it, and takes
    // those it says yes to out of the queue; returned in queue order.
    QList<Request> takeIf(const std::function<bool(Request &)> &taken);
    // Drops the client's queued requests.
    void drop(ClientId client);

    qint64 bytes() const;
    qint64 bytes(ClientId client) const;

private:
    Request takeAt(int index);

    QList<Request> queue;
    qint64 total = 0;
    QHash<ClientId, qint64> perClient;
};

#endif
