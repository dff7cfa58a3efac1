#include "snmpmib.h"

#include "identification.h"
#include "statusfields.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QtNumeric>
#include <limits>

namespace RfConverterMib
{
namespace
{
// The groups under rfConvObjects.
enum Group : unsigned { Identity = 1, Status = 2, Link = 3, Server = 4, NotifyOnly = 5 };
// Objects the notifications carry.
enum : unsigned {
    SerialNumber = 3,
    Temperature = 1,
    LinkProblem = 5,
    LinkTarget = 6,
    TemperatureLimit = 7,
    NotifiedLo = 1
};
// Notifications, under rfConvNotifications.
enum : unsigned {
    LoUnlocked = 1,
    LoLocked,
    InstrumentLost,
    InstrumentBack,
    TemperatureHigh,
    TemperatureNormal
};

using Read = std::optional<Value> (*)(const Context &);

Value integer(qint64 number)
{
    return {Value::Integer, number, {}};
}

Value text(const QString &s)
{
    return {Value::Text, 0, s.toUtf8()};
}

// An enumeration of two, or a TruthValue: the first (1) when `first`, else 2.
Value choice(bool first)
{
    return integer(first ? 1 : 2);
}

std::optional<Value> identityText(const Context &c, QString Identification::*field)
{
    if (c.data.identification.isEmpty())
        return std::nullopt;
    return text(Identification::of(c.data.identification).*field);
}

// The status, only while it is current: a manager never takes an old value
// for a live one.
const StatusReply *currentStatus(const Context &c)
{
    return c.data.status && c.data.fresh(c.now) ? &*c.data.status : nullptr;
}

// A measured field of the status (as statusJson() names it and gives its
// unit) in the MIB's integer unit, `perUnit` of them to the field's unit.
std::optional<Value> measured(const Context &c, const char *field, double perUnit)
{
    const StatusReply *status = currentStatus(c);
    if (!status)
        return std::nullopt;
    const QJsonValue value =
        statusJson(*status).value(QLatin1String(field)).toObject().value(QLatin1String("value"));
    if (!value.isDouble())
        return std::nullopt;
    const double scaled = value.toDouble() * perUnit;
    if (!qIsFinite(scaled) || scaled > std::numeric_limits<qint32>::max() ||
        scaled < std::numeric_limits<qint32>::min())
        return std::nullopt;
    return integer(qRound64(scaled));
}

std::optional<Value> flag(const Context &c, bool (*first)(const StatusReply &))
{
    const StatusReply *status = currentStatus(c);
    return status ? std::optional<Value>(choice(first(*status))) : std::nullopt;
}

std::optional<Value> filterState(const Context &c)
{
    const StatusReply *status = currentStatus(c);
    if (!status)
        return std::nullopt;
    bool ok = false;
    const int state = status->filterState().toInt(&ok);
    return ok && state >= 0 && state <= 3 ? std::optional<Value>(integer(state + 1)) : std::nullopt;
}

Value counter(quint64 count)
{
    return {Value::Counter32, qint64(count & 0xffffffffU), {}};
}

std::optional<Value> statusAge(const Context &c)
{
    if (!c.data.readAt.isValid())
        return std::nullopt;
    const double tenths = qMax(0.0, c.data.ageSeconds(c.now) * 10);
    return integer(qRound64(qMin(tenths, double(std::numeric_limits<qint32>::max()))));
}

const std::vector<Object> Objects = {
    {Identity, 1, [](const Context &c) { return identityText(c, &Identification::manufacturer); }},
    {Identity, 2, [](const Context &c) { return identityText(c, &Identification::model); }},
    {Identity, SerialNumber,
     [](const Context &c) { return identityText(c, &Identification::serial); }},
    {Identity, 4, [](const Context &c) { return identityText(c, &Identification::firmware); }},
    {Status, Temperature, [](const Context &c) { return measured(c, "temperature", 10); }},
    {Status, 2, [](const Context &c) { return measured(c, "current", 1e3); }},
    {Status, 3, [](const Context &c) { return measured(c, "tuneFrequency", 1e6); }},
    {Status, 4, [](const Context &c) { return measured(c, "lo1Frequency", 1e6); }},
    {Status, 5, [](const Context &c) { return measured(c, "referenceFrequency", 1e3); }},
    {Status, 6, [](const Context &c) { return measured(c, "attenuation", 1); }},
    {Status, 7,
     [](const Context &c) { return flag(c, [](const StatusReply &s) { return s.loLocked(1); }); }},
    {Status, 8,
     [](const Context &c) { return flag(c, [](const StatusReply &s) { return s.loLocked(2); }); }},
    {Status, 9,
     [](const Context &c) { return flag(c, [](const StatusReply &s) { return s.loLocked(3); }); }},
    {Status, 10,
     [](const Context &c) { return flag(c, [](const StatusReply &s) { return s.lnaOn(); }); }},
    {Status, 11,
     [](const Context &c) {
         return flag(c, [](const StatusReply &s) { return !s.lo1External(); });
     }},
    {Status, 12,
     [](const Context &c) {
         return flag(c, [](const StatusReply &s) { return !s.referenceExternal(); });
     }},
    {Status, 13,
     [](const Context &c) {
         return flag(c, [](const StatusReply &s) { return s.overrideActive(); });
     }},
    {Status, 14, filterState},
    {Status, 15,
     [](const Context &c) {
         return flag(c, [](const StatusReply &s) { return !s.integerPll(); });
     }},
    {Status, 16,
     [](const Context &c) { return flag(c, [](const StatusReply &s) { return !s.if300MHz(); }); }},
    {Link, 1, [](const Context &c) { return std::optional<Value>(choice(c.data.linkUp)); }},
    {Link, 2, [](const Context &c) { return std::optional<Value>(choice(c.data.fresh(c.now))); }},
    {Link, 3, statusAge},
    {Link, 4,
     [](const Context &c) { return std::optional<Value>(counter(c.data.link.linkLosses)); }},
    {Link, LinkProblem,
     [](const Context &c) {
         return std::optional<Value>(text(c.data.fresh(c.now) ? QString() : c.data.problem));
     }},
    {Link, LinkTarget, [](const Context &c) { return std::optional<Value>(text(c.data.target)); }},
    {Link, TemperatureLimit,
     [](const Context &c) { return std::optional<Value>(integer(c.temperatureLimit)); }},
    {Server, 1,
     [](const Context &c) { return std::optional<Value>(counter(c.data.link.requests)); }},
    {Server, 2, [](const Context &c) { return std::optional<Value>(counter(c.data.link.failed)); }},
    {Server, 3,
     [](const Context &c) {
         return std::optional<Value>(Value{Value::Gauge32, qint64(c.data.link.clients), {}});
     }},
    {Server, 4, [](const Context &c) { return std::optional<Value>(counter(c.data.reads)); }},
    {Server, 5,
     [](const Context &c) { return std::optional<Value>(counter(c.data.readFailures)); }},
};

// An object's value as a notification carries it: empty text (the identity)
// or 0 when it has no instance now.
Varbind varbind(const Context &c, unsigned group, unsigned item)
{
    for (const Object &object : Objects)
        if (object.group == group && object.item == item) {
            const std::optional<Value> value = object.read(c);
            return {group, item, value ? *value : group == Identity ? text({}) : Value{}};
        }
    return {group, item, {}};
}

QString degrees(int tenths)
{
    return QString::number(tenths / 10.0, 'f', 1) + QStringLiteral(" °C");
}
} // namespace

const std::vector<Object> &objects()
{
    return Objects;
}

QList<Notice> NoticeWatch::update(const StatusSnapshot::Data &data, qint64 now)
{
    const Context c{data, now, limit};
    QList<Notice> notices;
    const bool fresh = data.fresh(now);
    const Varbind serial = varbind(c, Identity, SerialNumber);
    if (present && *present && !fresh)
        notices += {InstrumentLost,
                    {serial, varbind(c, Link, LinkProblem), varbind(c, Link, LinkTarget)},
                    QStringLiteral("instrument lost (%1)").arg(data.problem)};
    else if (present && !*present && fresh)
        notices += {InstrumentBack,
                    {serial, varbind(c, Link, LinkTarget)},
                    QStringLiteral("instrument back")};
    if (present || fresh)
        present = fresh;
    if (fresh)
        compareStatus(c, &notices);
    return notices;
}

void NoticeWatch::compareStatus(const Context &c, QList<Notice> *notices)
{
    const Varbind serial = varbind(c, Identity, SerialNumber);
    for (int lo = 1; lo <= 3; ++lo) {
        const bool now = c.data.status->loLocked(lo);
        if (now == locked[lo - 1])
            continue;
        locked[lo - 1] = now;
        *notices += {now ? LoLocked : LoUnlocked,
                     {serial, {NotifyOnly, NotifiedLo, integer(lo)}},
                     QStringLiteral("LO%1 %2").arg(lo).arg(now ? "locked again" : "unlocked")};
    }
    const std::optional<Value> temperature = measured(c, "temperature", 10);
    if (!temperature)
        return;
    const int tenths = int(temperature->number);
    const bool wasHot = hot;
    if (!hot && tenths > limit)
        hot = true;
    else if (hot && tenths <= limit - TemperatureHysteresis)
        hot = false;
    if (hot == wasHot)
        return;
    *notices += {hot ? TemperatureHigh : TemperatureNormal,
                 {serial, {Status, Temperature, *temperature}, varbind(c, Link, TemperatureLimit)},
                 QStringLiteral("temperature %1, %2 the limit of %3")
                     .arg(degrees(tenths), hot ? "above" : "back below", degrees(limit))};
}
} // namespace RfConverterMib
