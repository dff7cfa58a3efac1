#ifndef STATUSFIELDS_H
#define STATUSFIELDS_H

#include "statusreply.h"

#include <QJsonObject>
#include <QString>
#include <optional>

// The status in the instrument's reply to the status query; or nothing, with
// what the operator is told instead in `problem`: no reply (empty), the
// instrument overheated (then `overheated` is set, when given), or a fault
// of the reply.
std::optional<StatusReply> decodeStatus(const QString &reply, QString *problem,
                                        bool *overheated = nullptr);

// The instrument's status by named field, as `rfctl status --json` prints it
// and the server's web service publishes it: numbers as numbers with their
// units (null when the instrument's text is none), flags as booleans, choices
// as words.
QJsonObject statusJson(const StatusReply &status);

// The words statusJson() and the status table use for the status flags.
QString lockedWord(bool set);
QString onOffWord(bool set);
QString sourceWord(bool external);
QString pllModeWord(bool integer);
QString ifMHzText(bool mhz300);

#endif
