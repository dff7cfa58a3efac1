#ifndef SERVELOG_H
#define SERVELOG_H

#include <QHostAddress>
#include <QString>

// One line of the server's log on stderr, after the UTC time to the
// millisecond: "2026-01-31T12:00:00.000Z client 127.0.0.1:40212 connected".
// Safe from any thread: mDNS logs from avahi's. Whatever `event` quotes,
// the line stays one printable line (printabletext.h).
void serveLog(const QString &event);
// How the log names a peer or a service's address: "127.0.0.1:40212",
// "[::1]:40212".
QString endpointName(const QHostAddress &address, quint16 port);

#endif
