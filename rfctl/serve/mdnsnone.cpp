#include "mdnsannouncer.h"

#include "servelog.h"

// Where avahi does not exist (Windows), --mdns only says so.
struct MdnsAnnouncer::State {
};

MdnsAnnouncer::MdnsAnnouncer(const QList<Service> &, QObject *parent) : QObject(parent) {}

MdnsAnnouncer::~MdnsAnnouncer() = default;

bool MdnsAnnouncer::announce(const QString &)
{
    serveLog(QStringLiteral("mdns: this build has no avahi; serving goes on without discovery"));
    return false;
}
