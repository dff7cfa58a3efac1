#ifndef STATUSVIEW_H
#define STATUSVIEW_H

#include "statusfields.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

class InstrumentSession;

// Asks for the status and checks the reply. The decoded reply, or nothing
// after the reason was printed and stored in `exitCode`.
std::optional<StatusReply> readStatus(InstrumentSession &session, int *exitCode);

// Status as the panel shows it: captions, the instrument's texts as received, units.
QStringList statusTable(const StatusReply &status);

// One line per poll: time, temperature, current, LO locks, tune frequency.
QString monitorLine(const QDateTime &time, const StatusReply &status, bool csv);
QString monitorCsvColumns();

#endif
