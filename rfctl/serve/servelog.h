#ifndef SERVELOG_H
#define SERVELOG_H

#include <QHostAddress>
#include <QString>

// One line of the server's log on stderr, after the UTC time to the
// millisecond: "2026-01-31T12:00:00.000Z client 127.0.0.1:40212 connected".
// Safe from any thread: mDNS logs from avahi's. Whatever `event` quotes,
// the line stays one printable line (printabletext.h).
void serveLog(const QString &event);
// The same for an event a flood of connections repeats at will (a refused
// client, a dropped connection): of each `kind` ("refused raw clients"),
// the first few lines of a period are written at once and the rest only
// counted, then told in one line at the period's end ("and 4211 more
// refused raw clients in the last 10 s"), so that no flood grows the log
// beyond a few lines a period. `count` is how many of the kind the line
// tells of. Safe from any thread; the summary is written from the
// application's thread, or with the kind's next line where there is none.
void serveLogRepeated(const QString &kind, const QString &event, int count = 1);
// Lines of one kind written at once in a period: at a steady flood, some
// 200 kilobytes an hour for each kind.
constexpr int RepeatedLinesPerPeriod = 5;
constexpr int RepeatedLinesPeriodMs = 10000;
// How the log names a peer or a service's address: "127.0.0.1:40212",
// "[::1]:40212".
QString endpointName(const QHostAddress &address, quint16 port);

#endif
