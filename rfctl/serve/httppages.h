#ifndef HTTPPAGES_H
#define HTTPPAGES_H

#include "lxiidentity.h"
#include "sharedlink.h"
#include "statusreply.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// What the web service knows about the instrument and itself when it answers
// a request: the last status read, and the server's own counters.
struct HttpSnapshot {
    // The instrument's identification reply ("MAKER,MODEL,SERIAL,FIRMWARE")
    // from when the link last came up; empty before that.
    QString identification;
    // The last status read, when it succeeded; else why not, in words.
    std::optional<StatusReply> status;
    QString problem;
    // HTTP requests answered, those answered with an error, and HTTP
    // clients connected now.
    quint64 httpRequests = 0;
    quint64 httpErrors = 0;
    quint64 httpClients = 0;
    // The shared link's counters, as of the last status read or link loss;
    // its clients are those of the raw and VXI-11 services.
    SharedLink::Counters link;
};

// The metrics in the Prometheus text format, in base units. The status
// gauges are left out while the last status read failed.
QByteArray metricsPage(const HttpSnapshot &snapshot);
// The status as `rfctl status --json` gives it, with "up" (the last status
// read succeeded), "problem" when it did not, and "instrument" (the fields of
// the identification).
QByteArray statusJsonPage(const HttpSnapshot &snapshot);
// The LXI identification document (LXI 1.5, valid against the
// identification schema): the instrument's `identification` reply
// ("MAKER,MODEL,SERIAL,FIRMWARE"), which must be known, and one Interface
// for each address the services listen as, with the VISA addresses of the
// services there. The host's interfaces are read at each call.
QByteArray identificationPage(const QString &identification, const HttpIdentity &identity);

#endif
