#ifndef MDNSANNOUNCER_H
#define MDNSANNOUNCER_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

// Announces the server's services by mDNS/DNS-SD through the avahi daemon.
//
// Avahi's client waits for the daemon's D-Bus replies, so it runs on a thread
// of avahi's own (AvahiThreadedPoll) and never stalls the server's event loop:
// every avahi call is made there, or before that thread starts and after it
// stopped, so nothing here is shared between threads.
//
// Without a daemon (none at start, or it goes away) the log says so once and
// serving goes on; the services are announced as soon as a daemon is there
// again. A name another host announces already is replaced by avahi's
// alternative ("NAME #2"), which the log and announced() name.
class MdnsAnnouncer : public QObject
{
    Q_OBJECT
public:
    struct Service {
        // The DNS-SD type, e.g. "_scpi-raw._tcp".
        QByteArray type;
        quint16 port;
        // TXT record entries ("path=/"), if any.
        QList<QByteArray> txt;
    };

    // The name for an instrument, from its identification reply
    // ("MAKER,MODEL,SERIAL,FIRMWARE"): "MODEL SERIAL", or the whole reply
    // when it has fewer fields. Unprintable characters are left out, and the
    // name is cut to the 63 bytes of UTF-8 that mDNS allows.
    static QString serviceName(const QString &identification);

    // What the server offers, as LXI discovery names it: the raw socket at
    // `rawPort`; with VXI-11, its portmapper (port 111), where VXI-11 clients
    // always ask first; and, with a web service at `httpPort`, the LXI service
    // itself and a web site there. LXI puts its service at the instrument's web
    // server, so without one it is not announced at all: no client is sent to
    // a port where nothing answers.
    static QList<Service> lxiServices(quint16 rawPort, bool vxi11, quint16 httpPort = 0);

    explicit MdnsAnnouncer(const QList<Service> &services, QObject *parent = nullptr);
    // Withdraws the services: the daemon drops them, and tells the network,
    // once avahi's connection to it is closed.
    ~MdnsAnnouncer() override;
    MdnsAnnouncer(const MdnsAnnouncer &) = delete;
    MdnsAnnouncer &operator=(const MdnsAnnouncer &) = delete;

    // Starts announcing the services under `name` (as serviceName() makes
    // it). Only the first call does; later ones return false.
    bool announce(const QString &name);

signals:
    // The services are announced under `name`: the one asked for, or the
    // alternative taken when that was in use. Again after avahi came back.
    void announced(const QString &name);

private:
    struct State;
    std::unique_ptr<State> state;
};

#endif
