#ifndef HTTPHOSTS_H
#define HTTPHOSTS_H

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>

// The names and addresses a request may give as its host (its Host header or
// the authority of an absolute-form target) for a web service listening at
// one address. Any other host is refused, so that a web page from elsewhere
// cannot read the service through a name of its own that it points at the
// server (DNS rebinding).
//
// Accepted: the listen address; on the loopback, every loopback address and
// "localhost"; on every interface (0.0.0.0, ::), each of the host's own
// addresses; off the loopback, the host's name and NAME.local; and the names
// the operator adds. Each with or without a port, names without regard to case.
class HttpHosts
{
public:
    HttpHosts() = default;
    HttpHosts(const QHostAddress &address, const QStringList &extra);

    // `host` as the request gives it: "NAME", "NAME:PORT", "192.0.2.1:80",
    // "[::1]:80".
    bool accepts(const QByteArray &host) const;

private:
    bool acceptsAddress(const QHostAddress &address) const;

    QHostAddress listen;
    QStringList names;
};

#endif
