#ifndef HTTPSERVICE_H
#define HTTPSERVICE_H

#include "accesslist.h"
#include "lxiidentity.h"
#include "statussnapshot.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <memory>

// The server's web service, read-only: the metrics for Prometheus at
// /metrics, the status as JSON at /status.json, a status page at / that
// reads it every second, and the LXI identification document at
// /lxi/identification. Other paths answer 404; methods other than GET and
// HEAD answer 405, and a request for a host the server is not (HttpHosts)
// 421, so no request ever reaches the instrument.
//
// Every request is answered at once from the status snapshot: none waits on
// the instrument, its link or another client's lock.
//
// HTTP is served by libmicrohttpd on a thread of its own, within the limits
// below, so a slow or flooding web client never holds up the server's event
// loop or the raw and VXI-11 clients. A client that trickles its request
// loses it at the head deadline; and while every connection is taken, a new
// client takes the place of the oldest one whose request head is not whole
// yet, so clients that trickle from any number of addresses shut out nobody
// who sends a request at once.
class HttpService : public QObject
{
    Q_OBJECT
public:
    static constexpr unsigned MaxConnections = 32;
    static constexpr unsigned MaxConnectionsPerAddress = 8;
    // A connection silent this long is closed.
    static constexpr unsigned IdleTimeoutS = 10;
    // A request head not whole this long after the connection opened, or
    // after the reply before it, is dropped with its connection.
    static constexpr int HeadDeadlineMs = 3000;
    // Memory per connection, which holds the request's headers: a request
    // whose headers do not fit is answered with an error and closed.
    static constexpr size_t ConnectionMemoryBytes = 16 * 1024;

    HttpService(const StatusSnapshot &snapshot, const AccessList &access,
                QObject *parent = nullptr);
    // Finishes the requests under way (at most StopDrainMs), then stops.
    ~HttpService() override;
    HttpService(const HttpService &) = delete;
    HttpService &operator=(const HttpService &) = delete;

    // Where the services are reached, for the identification document,
    // which adds the port listen() takes. Call before listen().
    void setIdentity(const HttpIdentity &identity);
    // Names a request may give as its host besides the listen address (see
    // HttpHosts). Call before listen().
    void setHostNames(const QStringList &names);
    // False with the reason in `error` when the port cannot be opened; port 0
    // takes a free one.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // "http 127.0.0.1:8080", with the port taken.
    QString serviceLine() const;
    quint16 port() const;

    // How long stopping waits at most for the requests under way.
    static constexpr int StopDrainMs = 500;

private:
    struct Daemon;
    std::unique_ptr<Daemon> daemon;
};

#endif
