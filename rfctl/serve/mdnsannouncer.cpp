#include "mdnsannouncer.h"

#include "servelog.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace
{
// A DNS label, less its length byte.
constexpr int MaxNameBytes = 63;
constexpr quint16 PortmapperPort = 111;
// Without a system bus avahi's client cannot even wait for the daemon to
// appear, so the bus is tried again this often.
constexpr unsigned BusRetryMs = 5000;
} // namespace

QString MdnsAnnouncer::serviceName(const QString &identification)
{
    const QStringList fields = identification.split(',');
    QString name =
        fields.size() >= 3 ? fields.at(1).trimmed() + ' ' + fields.at(2).trimmed() : identification;
    QString printable;
    for (const QChar c : name)
        if (c.isPrint())
            printable += c;
    name = printable.trimmed();
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(1);
    return name;
}

QList<MdnsAnnouncer::Service> MdnsAnnouncer::lxiServices(quint16 rawPort, bool vxi11,
                                                         quint16 httpPort)
{
    QList<Service> services{{"_scpi-raw._tcp", rawPort, {}}};
    if (httpPort) {
        services.prepend({"_lxi._tcp", httpPort, {"path=/"}});
        services.append({"_http._tcp", httpPort, {"path=/"}});
    }
    if (vxi11)
        services.append({"_vxi-11._tcp", PortmapperPort, {}});
    return services;
}

struct MdnsAnnouncer::State {
    MdnsAnnouncer *owner = nullptr;
    QList<Service> services;
    QByteArray name;
    bool started = false;
    AvahiThreadedPoll *poll = nullptr;
    AvahiTimeout *connectTimer = nullptr;
    AvahiClient *client = nullptr;
    AvahiEntryGroup *group = nullptr;
    // The log said the services are not announced, and has not said since
    // that they are.
    bool absenceSaid = false;

    // avahi's callbacks, each with the State as its user data.
    static void clientChanged(AvahiClient *c, AvahiClientState s, void *self)
    {
        static_cast<State *>(self)->clientState(c, s);
    }
    static void groupChanged(AvahiEntryGroup *g, AvahiEntryGroupState s, void *self)
    {
        static_cast<State *>(self)->groupState(g, s);
    }
    static void connectDue(AvahiTimeout *, void *self) { static_cast<State *>(self)->connect(); }

    void sayAbsent(const QString &why)
    {
        if (!absenceSaid)
            serveLog(QStringLiteral("mdns: %1; serving goes on without discovery").arg(why));
        absenceSaid = true;
    }

    void connectIn(unsigned ms)
    {
        timeval when;
        avahi_threaded_poll_get(poll)->timeout_update(connectTimer,
                                                      avahi_elapse_time(&when, ms, 0));
    }

    // A fresh client, which waits for the daemon by itself when it is missing.
    void connect()
    {
        if (client)
            avahi_client_free(client);
        group = nullptr;
        int error = 0;
        client = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL,
                                  clientChanged, this, &error);
        if (!client) {
            sayAbsent(QStringLiteral("no system bus to reach avahi (%1)")
                          .arg(QString::fromUtf8(avahi_strerror(error))));
            connectIn(BusRetryMs);
        }
    }

    void clientState(AvahiClient *c, AvahiClientState s)
    {
        switch (s) {
        case AVAHI_CLIENT_S_RUNNING:
            publish(c);
            break;
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            // The host's own name is being settled; the services follow it.
            if (group)
                avahi_entry_group_reset(group);
            break;
        case AVAHI_CLIENT_CONNECTING:
            sayAbsent(QStringLiteral("no avahi daemon"));
            break;
        case AVAHI_CLIENT_FAILURE:
            if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
                sayAbsent(QStringLiteral("the avahi daemon went away"));
                connectIn(0);
            } else {
                sayAbsent(QStringLiteral("avahi failed (%1)")
                              .arg(QString::fromUtf8(avahi_strerror(avahi_client_errno(c)))));
                connectIn(BusRetryMs);
            }
            break;
        }
    }

    void publish(AvahiClient *c)
    {
        if (!group)
            group = avahi_entry_group_new(c, groupChanged, this);
        if (!group || !avahi_entry_group_is_empty(group))
            return;
        for (int i = 0; i < services.size(); ++i) {
            const Service &service = services.at(i);
            AvahiStringList *txt = nullptr;
            for (const QByteArray &entry : service.txt)
                txt = avahi_string_list_add(txt, entry.constData());
            const int r = avahi_entry_group_add_service_strlst(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name.constData(),
                service.type.constData(), nullptr, nullptr, service.port, txt);
            avahi_string_list_free(txt);
            if (r == AVAHI_ERR_COLLISION) {
                // Taken by another program on this host: all services move
                // to the next name together.
                rename();
                avahi_entry_group_reset(group);
                i = -1;
            } else if (r < 0) {
                sayAbsent(QStringLiteral("avahi refused %1 (%2)")
                              .arg(QString::fromLatin1(service.type),
                                   QString::fromUtf8(avahi_strerror(r))));
                return;
            }
        }
        avahi_entry_group_commit(group);
    }

    void groupState(AvahiEntryGroup *g, AvahiEntryGroupState s)
    {
        switch (s) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            serveLog(QStringLiteral("mdns: announced as %1").arg(QString::fromUtf8(name)));
            // On avahi's thread: queued to the announcer's.
            emit owner->announced(QString::fromUtf8(name));
            absenceSaid = false;
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            rename();
            avahi_entry_group_reset(g);
            publish(avahi_entry_group_get_client(g));
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            sayAbsent(QStringLiteral("avahi failed (%1)")
                          .arg(QString::fromUtf8(avahi_strerror(
                              avahi_client_errno(avahi_entry_group_get_client(g))))));
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
        }
    }

    void rename()
    {
        char *next = avahi_alternative_service_name(name.constData());
        serveLog(QStringLiteral("mdns: the name %1 is taken, trying %2")
                     .arg(QString::fromUtf8(name), QString::fromUtf8(next)));
        name = next;
        avahi_free(next);
    }
};

MdnsAnnouncer::MdnsAnnouncer(const QList<Service> &services, QObject *parent)
    : QObject(parent), state(new State)
{
    state->owner = this;
    state->services = services;
}

MdnsAnnouncer::~MdnsAnnouncer()
{
    if (!state->poll)
        return;
    avahi_threaded_poll_stop(state->poll);
    if (state->client)
        avahi_client_free(state->client);
    avahi_threaded_poll_free(state->poll);
}

bool MdnsAnnouncer::announce(const QString &name)
{
    if (state->started)
        return false;
    state->started = true;
    state->name = name.toUtf8();
    state->poll = avahi_threaded_poll_new();
    if (state->poll) {
        const AvahiPoll *api = avahi_threaded_poll_get(state->poll);
        timeval now;
        state->connectTimer =
            api->timeout_new(api, avahi_elapse_time(&now, 0, 0), State::connectDue, state.get());
    }
    if (!state->connectTimer || avahi_threaded_poll_start(state->poll) < 0)
        state->sayAbsent(QStringLiteral("cannot start avahi's thread"));
    return true;
}
