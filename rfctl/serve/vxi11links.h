#ifndef VXI11LINKS_H
#define VXI11LINKS_H

#include "sharedlink.h"

#include <QByteArray>
#include <QHash>

// One VXI-11 device link: a client of the shared link of its own, so that
// its lock, its queued request and its reply are its own.
struct Vxi11Link {
    SharedLink::ClientId client = 0;
    const void *owner = nullptr; // the RPC connection that created it
    QByteArray written;          // a write without END, waiting for the rest
    QByteArray unread;           // what device_read has not returned yet
};

// The server's device links by link id. Links of every connection live here,
// since a link id names the link server-wide.
class Vxi11Links
{
public:
    static constexpr int MaxLinks = 256;
    // Links one connection may hold at once, so that one client cannot take
    // every link there is; a client wants one or two.
    static constexpr int MaxLinksPerConnection = 4;

    explicit Vxi11Links(SharedLink *shared) : shared(shared) {}
    ~Vxi11Links();
    Vxi11Links(const Vxi11Links &) = delete;
    Vxi11Links &operator=(const Vxi11Links &) = delete;

    // Null for an unknown id.
    Vxi11Link *find(qint32 id);
    // The new link's id, or 0 when MaxLinks are open already, or
    // MaxLinksPerConnection of `owner`.
    qint32 create(const QString &peer, const void *owner);
    // Drops the link and, with its shared-link client, its requests and lock.
    void destroy(qint32 id);
    void destroyOwnedBy(const void *owner);

    SharedLink *const shared;

private:
    QHash<qint32, Vxi11Link> links;
    qint32 lastId = 0;
};

#endif
