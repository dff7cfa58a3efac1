#ifndef HTTPSERVICE_H
#define HTTPSERVICE_H

#include "accesslist.h"
#include "lxiidentity.h"
#include "sharedlink.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <memory>

// The server's web service, read-only: the metrics for Prometheus at
// /metrics, the status as JSON at /status.json, a status page at / that
// reads it every second, and the LXI identification document at
// /lxi/identification. Other paths answer 404; methods other than GET and
// HEAD answer 405, so no request ever reaches the instrument but the status
// query.
//
// HTTP is served by libmicrohttpd on a thread of its own, within the limits
// below, so a slow or flooding web client never holds up the server's event
// loop or the raw and VXI-11 clients. The status is read through the shared
// link, in turn with every other client, on the link's thread, and the
// instrument's identification and the link's counters taken with it (the
// counters also when the link goes down): at most once in MinReadIntervalMs,
// however many requests want it, and requests arriving while a read is under
// way wait for that read.
class HttpService : public QObject
{
    Q_OBJECT
public:
    static constexpr unsigned MaxConnections = 32;
    static constexpr unsigned MaxConnectionsPerAddress = 8;
    // A connection silent this long is closed.
    static constexpr unsigned IdleTimeoutS = 10;
    // Memory per connection, which holds the request's headers: a request
    // whose headers do not fit is answered with an error and closed.
    static constexpr size_t ConnectionMemoryBytes = 16 * 1024;
    static constexpr int MinReadIntervalMs = 1000;

    HttpService(SharedLink &link, const AccessList &access, QObject *parent = nullptr);
    // Answers the requests still waiting for a status read, then stops serving.
    ~HttpService() override;
    HttpService(const HttpService &) = delete;
    HttpService &operator=(const HttpService &) = delete;

    // Where the services are reached, for the identification document,
    // which adds the port listen() takes. Call before listen().
    void setIdentity(const HttpIdentity &identity);
    // False with the reason in `error` when the port cannot be opened; port 0
    // takes a free one.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // "http 127.0.0.1:8080", with the port taken.
    QString serviceLine() const;
    quint16 port() const;

private:
    struct Shared;
    void readStatus();
    void linkLost();

    SharedLink &link;
    SharedLink::ClientId client;
    std::unique_ptr<Shared> shared;
};

#endif
