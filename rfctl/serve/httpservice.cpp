#include "httpservice.h"

#include "httppages.h"
#include "instrumentcommands.h"
#include "servelog.h"
#include "statusfields.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

// The page's resources live in this static library, so they are registered by hand.
static void registerPageResources()
{
    Q_INIT_RESOURCE(httppage);
}

namespace
{
// Marks a connection that was suspended for a status read: when it is
// resumed, it is answered with whatever that read left.
char waitedForRead;

const char *const PageSecurity = "default-src 'none'; connect-src 'self'; "
                                 "style-src 'unsafe-inline'; script-src 'unsafe-inline'";

struct Page {
    unsigned status;
    QByteArray type;
    QByteArray body;
};
} // namespace

// Everything the daemon's thread and the server's thread share.
struct HttpService::Shared {
    HttpService *owner = nullptr;
    AccessList access;
    QByteArray statusPage;
    MHD_Daemon *daemon = nullptr;
    QHostAddress address;
    QString lastMessage;

    // Guards what follows.
    QMutex mutex;
    HttpIdentity identity;
    HttpSnapshot snapshot;
    QElapsedTimer lastRead;
    bool reading = false;
    // No connection is suspended any more: the daemon must not stop with one.
    bool stopping = false;
    std::vector<MHD_Connection *> waiting;

    static MHD_Result allow(void *self, const sockaddr *address, socklen_t)
    {
        const QHostAddress peer(address);
        if (static_cast<Shared *>(self)->access.allows(peer))
            return MHD_YES;
        serveLog(QStringLiteral("refused http client %1: not in --allow").arg(peer.toString()));
        return MHD_NO;
    }

    static void log(void *self, const char *format, va_list args)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        const QString message = QString::fromLocal8Bit(text).trimmed();
        static_cast<Shared *>(self)->lastMessage = message;
        serveLog(QStringLiteral("http: ") + message);
    }

    static void connectionChanged(void *self, MHD_Connection *, void **,
                                  MHD_ConnectionNotificationCode change)
    {
        Shared *s = static_cast<Shared *>(self);
        QMutexLocker lock(&s->mutex);
        if (change == MHD_CONNECTION_NOTIFY_STARTED)
            ++s->snapshot.httpClients;
        else
            --s->snapshot.httpClients;
    }

    static MHD_Result request(void *self, MHD_Connection *connection, const char *url,
                              const char *method, const char *, const char *, size_t *,
                              void **state)
    {
        return static_cast<Shared *>(self)->answer(connection, url, method, state);
    }

    MHD_Result answer(MHD_Connection *connection, const char *url, const char *method, void **state)
    {
        if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 &&
            std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
            return reply(connection, {MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain", "read-only\n"});
        const QByteArray path(url);
        if (path == "/")
            return reply(connection, {MHD_HTTP_OK, "text/html; charset=utf-8", statusPage});
        const bool identification = path == "/lxi/identification";
        if (!identification && path != "/metrics" && path != "/status.json")
            return reply(connection, {MHD_HTTP_NOT_FOUND, "text/plain", "not found\n"});
        if (*state != &waitedForRead && !known(connection, identification)) {
            *state = &waitedForRead;
            return MHD_YES;
        }
        if (identification)
            return reply(connection,
                         {MHD_HTTP_OK, "text/xml; charset=utf-8",
                          identificationPage(snapshotNow().identification, identityNow())});
        if (path == "/metrics")
            return reply(connection, {MHD_HTTP_OK, "text/plain; version=0.0.4; charset=utf-8",
                                      metricsPage(snapshotNow())});
        return reply(connection, {MHD_HTTP_OK, "application/json", statusJsonPage(snapshotNow())});
    }

    // True when the last status read is recent enough to answer with, or
    // for `identificationOnly`, when the identification is known; else the
    // connection is suspended until the next read ends, which is asked for
    // unless one is under way.
    bool known(MHD_Connection *connection, bool identificationOnly)
    {
        QMutexLocker lock(&mutex);
        if (stopping)
            return true;
        if (identificationOnly ? !snapshot.identification.isEmpty()
                               : lastRead.isValid() && !lastRead.hasExpired(MinReadIntervalMs))
            return true;
        MHD_suspend_connection(connection);
        waiting.push_back(connection);
        if (!reading) {
            reading = true;
            QMetaObject::invokeMethod(
                owner, [o = owner] { o->readStatus(); }, Qt::QueuedConnection);
        }
        return false;
    }

    HttpIdentity identityNow()
    {
        QMutexLocker lock(&mutex);
        return identity;
    }

    HttpSnapshot snapshotNow()
    {
        QMutexLocker lock(&mutex);
        return snapshot;
    }

    MHD_Result reply(MHD_Connection *connection, const Page &page)
    {
        {
            QMutexLocker lock(&mutex);
            ++snapshot.httpRequests;
            if (page.status >= 400)
                ++snapshot.httpErrors;
        }
        MHD_Response *response = MHD_create_response_from_buffer(
            size_t(page.body.size()), const_cast<char *>(page.body.constData()),
            MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, page.type.constData());
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_SECURITY_POLICY, PageSecurity);
        if (page.status == MHD_HTTP_METHOD_NOT_ALLOWED)
            MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
        const MHD_Result queued = MHD_queue_response(connection, page.status, response);
        MHD_destroy_response(response);
        return queued;
    }

    // Records the read's result and lets the requests waiting for it go on.
    // On the server's thread, with the service's client still on `link`.
    void readEnded(std::optional<StatusReply> status, const QString &problem,
                   const SharedLink &link)
    {
        std::vector<MHD_Connection *> resumed;
        {
            QMutexLocker lock(&mutex);
            takeLinkState(link);
            snapshot.status = std::move(status);
            snapshot.problem = problem;
            lastRead.start();
            reading = false;
            resumed.swap(waiting);
        }
        for (MHD_Connection *connection : resumed)
            MHD_resume_connection(connection);
    }

    // With the mutex held, as readEnded().
    void takeLinkState(const SharedLink &link)
    {
        snapshot.identification = link.identification();
        snapshot.link = link.counters();
        // The service's own client, which reads the status, is no client
        // connected; the HTTP clients are counted apart.
        --snapshot.link.clients;
    }
};

HttpService::HttpService(SharedLink &link, const AccessList &access, QObject *parent)
    : QObject(parent), link(link), client(link.addClient(QStringLiteral("http"))),
      shared(new Shared)
{
    registerPageResources();
    shared->owner = this;
    shared->access = access;
    QFile page(QStringLiteral(":/httppage/index.html"));
    if (page.open(QIODevice::ReadOnly))
        shared->statusPage = page.readAll();
    shared->snapshot.problem = QStringLiteral("link down");
    connect(&link, &SharedLink::linkChanged, this, [this](bool up) {
        if (!up)
            linkLost();
    });
}

HttpService::~HttpService()
{
    if (shared->daemon) {
        {
            QMutexLocker lock(&shared->mutex);
            shared->stopping = true;
        }
        shared->readEnded(std::nullopt, QStringLiteral("the server is stopping"), link);
        MHD_stop_daemon(shared->daemon);
    }
    link.removeClient(client);
}

void HttpService::setIdentity(const HttpIdentity &identity)
{
    shared->identity = identity;
}

bool HttpService::listen(const QHostAddress &address, quint16 port, QString *error)
{
    sockaddr_storage bound{};
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (ipv6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&bound);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR a = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &a, sizeof a);
    } else {
        auto *in = reinterpret_cast<sockaddr_in *>(&bound);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO |
                           MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG | (ipv6 ? MHD_USE_IPv6 : 0);
    Shared *s = shared.get();
    shared->daemon = MHD_start_daemon(
        flags, port, &Shared::allow, s, &Shared::request, s, MHD_OPTION_EXTERNAL_LOGGER,
        &Shared::log, s, MHD_OPTION_SOCK_ADDR, &bound, MHD_OPTION_CONNECTION_LIMIT, MaxConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, MaxConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
        IdleTimeoutS, MHD_OPTION_CONNECTION_MEMORY_LIMIT, ConnectionMemoryBytes,
        MHD_OPTION_NOTIFY_CONNECTION, &Shared::connectionChanged, s, MHD_OPTION_END);
    shared->address = address;
    if (shared->daemon) {
        QMutexLocker lock(&shared->mutex);
        shared->identity.httpPort = HttpService::port();
        return true;
    }
    *error = QStringLiteral("http: cannot listen on %1: %2")
                 .arg(endpointName(address, port), shared->lastMessage);
    return false;
}

quint16 HttpService::port() const
{
    return shared->daemon ? MHD_get_daemon_info(shared->daemon, MHD_DAEMON_INFO_BIND_PORT)->port
                          : 0;
}

QString HttpService::serviceLine() const
{
    return QStringLiteral("http ") + endpointName(shared->address, port());
}

void HttpService::readStatus()
{
    link.submit(client, InstrumentCommands::statusQuery(), [this](const SharedLink::Outcome &o) {
        QString problem = o.status == SharedLink::Outcome::LinkDown
                              ? QStringLiteral("link down")
                              : QStringLiteral("no status reply");
        std::optional<StatusReply> status;
        if (o.status == SharedLink::Outcome::Replied)
            status = decodeStatus(o.reply, &problem);
        shared->readEnded(std::move(status), problem, link);
    });
}

void HttpService::linkLost()
{
    QMutexLocker lock(&shared->mutex);
    shared->takeLinkState(link);
    // A status read before the loss no longer holds, however recent.
    shared->snapshot.status.reset();
    shared->snapshot.problem = QStringLiteral("link down");
}
