#ifndef SNMPMIB_H
#define SNMPMIB_H

#include "statussnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

// RFCONVERTER-MIB (packaging/snmp) as the subagent serves it: where each
// object sits, the value it takes from a status snapshot, and the
// notifications a change of the snapshot calls for. Knows nothing of
// net-snmp, which only the subagent itself includes.
namespace RfConverterMib
{
// rfConverterMIB: netSnmpPlaypen 4417, in net-snmp's experimental arc.
constexpr unsigned Root[] = {1, 3, 6, 1, 4, 1, 8072, 9999, 9999, 4417};
// Below the root, rfConvNotifications and rfConvObjects.
constexpr unsigned NotificationsArc = 0;
constexpr unsigned ObjectsArc = 1;

struct Value {
    enum Type { Integer, Counter32, Gauge32, Text };
    Type type = Integer;
    qint64 number = 0;
    QByteArray text;
};

// What the values are taken from.
struct Context {
    const StatusSnapshot::Data &data;
    // On the monotonic clock (StatusSnapshot::steadyNowMs()).
    qint64 now;
    // The temperature limit in the MIB's unit, tenths of a degree Celsius.
    int temperatureLimit;
};

struct Object {
    // Under rfConvObjects: the group, and the object in the group.
    unsigned group;
    unsigned item;
    // The value; nothing while the object has no instance.
    std::optional<Value> (*read)(const Context &);
};

// Every readable object.
const std::vector<Object> &objects();

struct Varbind {
    unsigned group;
    unsigned item;
    Value value;
};

// One notification: its number under rfConvNotifications, the objects it
// carries, and a line for the server's log.
struct Notice {
    unsigned number;
    QList<Varbind> varbinds;
    QString description;
};

// Tells, snapshot by snapshot, which notifications the changes call for:
// each change once, however many reads show it.
class NoticeWatch
{
public:
    // Tenths of a degree the temperature falls below the limit before it
    // counts as back, so that one hovering at the limit is told once.
    static constexpr int TemperatureHysteresis = 10;

    explicit NoticeWatch(int temperatureLimit) : limit(temperatureLimit) {}

    // The notifications due since the previous call.
    QList<Notice> update(const StatusSnapshot::Data &data, qint64 now);

private:
    void compareStatus(const Context &context, QList<Notice> *notices);

    const int limit;
    // The status was current at the last call; nothing before the
    // instrument was first there, so that a server started without it says
    // nothing of its loss.
    std::optional<bool> present;
    // As the notifications last told them: an LO starts out locked and the
    // temperature below the limit, so that a fault there at start is told.
    bool locked[3] = {true, true, true};
    bool hot = false;
};
} // namespace RfConverterMib

#endif
