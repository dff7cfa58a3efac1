#include "httpservice.h"

#include "httpconnections.h"
#include "httphosts.h"
#include "httppages.h"
#include "servelog.h"

#include <QElapsedTimer>
#include <QFile>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <microhttpd.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

// The page's resources live in this static library, so they are registered by hand.
static void registerPageResources()
{
    Q_INIT_RESOURCE(httppage);
}

namespace
{
const char *const PageSecurity = "default-src 'none'; connect-src 'self'; "
                                 "style-src 'unsafe-inline'; script-src 'unsafe-inline'";
// The daemon's thread looks at its stop flag and head deadlines this often.
constexpr int SweepMs = 100;
// Stopping serves on at least this long, for requests already sent.
constexpr int StopServeMinMs = 100;
// Before the instrument has identified itself, clients are asked to come back after this.
const char *const IdentificationRetryS = "5";
// What the log's summary of withheld refusals counts.
const char *const Refused = "refused http clients";

struct Header {
    const char *name;
    QByteArray value;
};

struct Page {
    unsigned status;
    QByteArray type;
    QByteArray body;
    QList<Header> headers = {};
};

Page text(unsigned status, const char *body, const QList<Header> &headers = {})
{
    return {status, "text/plain; charset=utf-8", body, headers};
}

bool is(const char *method, const char *name)
{
    return std::strcmp(method, name) == 0;
}

// An absolute-form target ("http://HOST/PATH"), as proxies send it: its
// authority, which stands for the Host header, and its path.
bool splitAbsolute(const QByteArray &target, QByteArray *authority, QByteArray *path)
{
    static const QByteArray Scheme = "http://";
    if (target.left(Scheme.size()).toLower() != Scheme)
        return false;
    const int slash = target.indexOf('/', Scheme.size());
    *authority = target.mid(Scheme.size(), slash < 0 ? -1 : slash - Scheme.size());
    *path = slash < 0 ? QByteArray("/") : target.mid(slash);
    return true;
}

MHD_Result countHost(void *count, MHD_ValueKind, const char *key, const char *)
{
    if (qstricmp(key, MHD_HTTP_HEADER_HOST) == 0)
        ++*static_cast<int *>(count);
    return MHD_YES;
}
} // namespace

// The libmicrohttpd daemon and everything its thread uses. Every callback
// and the sweep run on that thread alone (the daemon polls from
// MHD_run_wait() there), so what follows needs no lock; the status
// snapshot guards its own.
struct HttpService::Daemon {
    const StatusSnapshot &snapshot;
    AccessList access;
    QStringList hostNames;
    HttpHosts hosts;
    HttpIdentity identity;
    QByteArray statusPage;
    MHD_Daemon *mhd = nullptr;
    QHostAddress address;
    QString lastMessage;
    std::thread thread;
    std::atomic_bool stopping{false};
    HttpConnections connections{MaxConnections, HeadDeadlineMs};
    quint64 requests = 0;
    quint64 errors = 0;

    explicit Daemon(const StatusSnapshot &snapshot) : snapshot(snapshot) {}

    void run()
    {
        while (!stopping)
            serveFor(SweepMs);
        // Replies under way, and requests whose heads are already here, are
        // finished; trickling heads are not waited for beyond the bound.
        QElapsedTimer draining;
        draining.start();
        while (draining.elapsed() < StopDrainMs &&
               (draining.elapsed() < StopServeMinMs || connections.requestsUnderWay()))
            serveFor(10);
    }

    void serveFor(int ms)
    {
        if (MHD_run_wait(mhd, ms) != MHD_YES)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        connections.dropLateHeads();
    }

    static MHD_Result allow(void *self, const sockaddr *address, socklen_t)
    {
        Daemon *d = static_cast<Daemon *>(self);
        const QHostAddress peer(address);
        if (!d->access.allows(peer)) {
            serveLogRepeated(
                QLatin1String(Refused),
                QStringLiteral("refused http client %1: not in --allow").arg(peer.toString()));
            return MHD_NO;
        }
        if (!d->connections.makeRoom()) {
            serveLogRepeated(QLatin1String(Refused),
                             QStringLiteral("refused http client %1: every connection is busy")
                                 .arg(peer.toString()));
            return MHD_NO;
        }
        return MHD_YES;
    }

    static void log(void *self, const char *format, va_list args)
    {
        char line[512];
        std::vsnprintf(line, sizeof line, format, args);
        const QString message = QString::fromLocal8Bit(line).trimmed();
        Daemon *d = static_cast<Daemon *>(self);
        d->lastMessage = message;
        // libmicrohttpd tells of connections it refuses or loses by itself.
        serveLogRepeated(QStringLiteral("messages of the http library"),
                         QStringLiteral("http: ") + message);
        d->countRefusal(message);
    }

    // A request libmicrohttpd refuses by itself (a malformed or oversized
    // head, an unknown version) is answered without any callback but the
    // log's, which names the status sent.
    void countRefusal(const QString &message)
    {
        static const QLatin1String Said("HTTP response code is ");
        const int at = message.indexOf(Said);
        if (at < 0 || message.mid(at + Said.size(), 3).toInt() < 400)
            return;
        ++requests;
        ++errors;
    }

    static void connectionChanged(void *self, MHD_Connection *connection, void **,
                                  MHD_ConnectionNotificationCode change)
    {
        Daemon *d = static_cast<Daemon *>(self);
        if (change == MHD_CONNECTION_NOTIFY_CLOSED) {
            d->connections.closed(connection);
            return;
        }
        const MHD_ConnectionInfo *socket =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const MHD_ConnectionInfo *peer =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        d->connections.opened(connection, socket->connect_fd, QHostAddress(peer->client_addr));
    }

    static void *requestLine(void *self, const char *, MHD_Connection *connection)
    {
        static_cast<Daemon *>(self)->connections.requestLineRead(connection);
        return nullptr;
    }

    // A request ended: its reply is sent, or its client went. Those that
    // libmicrohttpd refused are counted from its log (countRefusal).
    static void requestEnded(void *self, MHD_Connection *connection, void **,
                             MHD_RequestTerminationCode)
    {
        Daemon *d = static_cast<Daemon *>(self);
        const MHD_ConnectionInfo *status =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
        if (d->connections.headWasRead(connection) && status && status->http_status) {
            ++d->requests;
            if (status->http_status >= 400)
                ++d->errors;
        }
        d->connections.replied(connection);
    }

    static MHD_Result request(void *self, MHD_Connection *connection, const char *url,
                              const char *method, const char *version, const char *, size_t *,
                              void **)
    {
        Daemon *d = static_cast<Daemon *>(self);
        d->connections.headRead(connection);
        return d->reply(connection, d->answer(connection, url, method, version));
    }

    Page answer(MHD_Connection *connection, const char *url, const char *method,
                const char *version)
    {
        QByteArray path(url);
        int hostHeaders = 0;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, &countHost, &hostHeaders);
        const char *hostHeader =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
        QByteArray host(hostHeader);
        if (hostHeaders > 1 || (!hostHeader && is(version, MHD_HTTP_VERSION_1_1)))
            return text(MHD_HTTP_BAD_REQUEST, "one Host header is required\n");
        if (splitAbsolute(path, &host, &path))
            hostHeader = "";
        if (hostHeader && !hosts.accepts(host))
            return text(MHD_HTTP_MISDIRECTED_REQUEST, "not a host this server serves\n");
        if (!is(method, MHD_HTTP_METHOD_GET) && !is(method, MHD_HTTP_METHOD_HEAD))
            return text(MHD_HTTP_METHOD_NOT_ALLOWED, "read-only\n",
                        {{MHD_HTTP_HEADER_ALLOW, "GET, HEAD"}});
        if (path == "/")
            return {MHD_HTTP_OK,
                    "text/html; charset=utf-8",
                    statusPage,
                    {{MHD_HTTP_HEADER_CONTENT_SECURITY_POLICY, PageSecurity}}};
        const HttpSnapshot now{snapshot.current(), StatusSnapshot::steadyNowMs(), requests, errors,
                               connections.live()};
        if (path == "/metrics")
            return {MHD_HTTP_OK, "text/plain; version=0.0.4; charset=utf-8", metricsPage(now)};
        if (path == "/status.json")
            return {MHD_HTTP_OK, "application/json", statusJsonPage(now)};
        if (path != "/lxi/identification")
            return text(MHD_HTTP_NOT_FOUND, "not found\n");
        if (now.instrument.identification.isEmpty())
            return text(MHD_HTTP_SERVICE_UNAVAILABLE, "the instrument has not identified itself\n",
                        {{MHD_HTTP_HEADER_RETRY_AFTER, IdentificationRetryS}});
        return {MHD_HTTP_OK, "text/xml; charset=utf-8",
                identificationPage(now.instrument.identification, identity)};
    }

    MHD_Result reply(MHD_Connection *connection, const Page &page)
    {
        MHD_Response *response = MHD_create_response_from_buffer(
            size_t(page.body.size()), const_cast<char *>(page.body.constData()),
            MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, page.type.constData());
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        MHD_add_response_header(response, MHD_HTTP_HEADER_X_CONTENT_TYPE_OPTIONS, "nosniff");
        for (const Header &header : page.headers)
            MHD_add_response_header(response, header.name, header.value.constData());
        // A client must not send another request on a connection that is closing.
        if (stopping)
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        const MHD_Result queued = MHD_queue_response(connection, page.status, response);
        MHD_destroy_response(response);
        return queued;
    }
};

HttpService::HttpService(const StatusSnapshot &snapshot, const AccessList &access, QObject *parent)
    : QObject(parent), daemon(new Daemon(snapshot))
{
    registerPageResources();
    daemon->access = access;
    QFile page(QStringLiteral(":/httppage/index.html"));
    if (page.open(QIODevice::ReadOnly))
        daemon->statusPage = page.readAll();
}

HttpService::~HttpService()
{
    if (!daemon->mhd)
        return;
    daemon->stopping = true;
    daemon->thread.join();
    MHD_stop_daemon(daemon->mhd);
}

void HttpService::setIdentity(const HttpIdentity &identity)
{
    daemon->identity = identity;
}

void HttpService::setHostNames(const QStringList &names)
{
    daemon->hostNames = names;
}

namespace
{
// The interface of a scoped IPv6 address ("fe80::1%eth0", "fe80::1%2").
uint32_t scopeIndex(const QHostAddress &address)
{
    const QString scope = address.scopeId();
    if (scope.isEmpty())
        return 0;
    bool numeric = false;
    const uint index = scope.toUInt(&numeric);
    return numeric ? index : if_nametoindex(scope.toLocal8Bit().constData());
}
} // namespace

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
        in6->sin6_scope_id = scopeIndex(address);
    } else {
        auto *in = reinterpret_cast<sockaddr_in *>(&bound);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    daemon->hosts = HttpHosts(address, daemon->hostNames);
    // Polled from a thread of the service's own, which also keeps the head
    // deadlines and finishes the requests under way when stopping.
    const unsigned flags = MHD_USE_AUTO | MHD_USE_ERROR_LOG | (ipv6 ? MHD_USE_IPv6 : 0);
    Daemon *d = daemon.get();
    // The connections dropped to make room close at the daemon's next turn;
    // until then the new ones need places beyond MaxConnections.
    const unsigned places = 2 * MaxConnections;
    d->mhd = MHD_start_daemon(
        flags, port, &Daemon::allow, d, &Daemon::request, d, MHD_OPTION_EXTERNAL_LOGGER,
        &Daemon::log, d, MHD_OPTION_SOCK_ADDR, &bound, MHD_OPTION_CONNECTION_LIMIT, places,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, MaxConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
        IdleTimeoutS, MHD_OPTION_CONNECTION_MEMORY_LIMIT, ConnectionMemoryBytes,
        MHD_OPTION_NOTIFY_CONNECTION, &Daemon::connectionChanged, d, MHD_OPTION_URI_LOG_CALLBACK,
        &Daemon::requestLine, d, MHD_OPTION_NOTIFY_COMPLETED, &Daemon::requestEnded, d,
        MHD_OPTION_END);
    d->address = address;
    if (!d->mhd) {
        *error = QStringLiteral("http: cannot listen on %1: %2")
                     .arg(endpointName(address, port), d->lastMessage);
        return false;
    }
    d->identity.httpPort = HttpService::port();
    d->thread = std::thread([d] { d->run(); });
    return true;
}

quint16 HttpService::port() const
{
    return daemon->mhd ? MHD_get_daemon_info(daemon->mhd, MHD_DAEMON_INFO_BIND_PORT)->port : 0;
}

QString HttpService::serviceLine() const
{
    return QStringLiteral("http ") + endpointName(daemon->address, port());
}
