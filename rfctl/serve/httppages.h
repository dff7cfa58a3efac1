#ifndef HTTPPAGES_H
#define HTTPPAGES_H

#include "lxiidentity.h"
#include "statussnapshot.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// What the web service knows when it answers a request: the status
// snapshot, the time it answers at, and its own counters.
struct HttpSnapshot {
    StatusSnapshot::Data instrument;
    // On the monotonic clock (StatusSnapshot::steadyNowMs()).
    qint64 now = 0;
    // HTTP requests answered, by the service or by libmicrohttpd, those
    // answered with an error, and HTTP clients connected now.
    quint64 httpRequests = 0;
    quint64 httpErrors = 0;
    quint64 httpClients = 0;
};

// The metrics in the Prometheus text format, in base units. The status
// gauges are left out while the status is not current (rfconverter_up 0).
QByteArray metricsPage(const HttpSnapshot &snapshot);
// The status of the last read that succeeded as `rfctl status --json` gives
// it, with "up" (it is current), "problem" when it is not, how old it is,
// the link's state, and "instrument" (the fields of the identification).
QByteArray statusJsonPage(const HttpSnapshot &snapshot);
// The LXI identification document (LXI 1.5, valid against the
// identification schema): the instrument's `identification` reply
// ("MAKER,MODEL,SERIAL,FIRMWARE"), which must be known, and one Interface
// for each address the services listen as, with the VISA addresses of the
// services there. The host's interfaces are read at each call.
QByteArray identificationPage(const QString &identification, const HttpIdentity &identity);

#endif
