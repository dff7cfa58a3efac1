#include "instrumentcommands.h"

#include "wholenumber.h"

#include <QPair>

namespace InstrumentCommands
{
namespace
{
QString flag(const char *keyword, bool set)
{
    return QLatin1String(keyword) + QLatin1String(set ? " 1" : " 0");
}

QString quoted(const QString &text)
{
    return '"' + text + '"';
}

bool isAddress(const QString &text)
{
    const QStringList parts = text.split('.', Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.size() > 3 || !wholeNumber(part, 0, 255))
            return false;
    }
    return true;
}
} // namespace

QString statusQuery()
{
    return QStringLiteral("syst:readstate?");
}

QString storedStatesQuery()
{
    return QStringLiteral("syst:bootstate?");
}

QString tune(double ghz)
{
    return QStringLiteral("freq:tune ") + QString::number(ghz, 'f', 4);
}

QString attenuation(int db)
{
    return QStringLiteral("fact:rfatten ") + QString::number(db);
}

QString referenceFrequency(int mhz)
{
    return QStringLiteral("freq:ref:freq ") + QString::number(mhz);
}

QString lna(bool on)
{
    return flag("powe:lna", !on);
}

QString referenceExternal(bool external)
{
    return flag("freq:ref:ext", external);
}

QString referenceOverride(bool active)
{
    return flag("freq:ref:refover", active);
}

// The IF is set inside slot 2 by a command of its own, passed on quoted.
QString if300MHz(bool mhz300)
{
    return mhz300 ? QStringLiteral("fact:slot2 \"freq>set 21.000\"")
                  : QStringLiteral("fact:slot2 \"freq>set 20.887\"");
}

QString integerPll(bool integer)
{
    return flag("freq:pllm", integer);
}

QStringList loadState(int state)
{
    return {integerPll(false), QStringLiteral("syst:loadstate ") + QString::number(state)};
}

QString saveState(int state)
{
    return QStringLiteral("syst:savestate ") + QString::number(state);
}

QStringList networkSettings(const QString &ipAddress, const QString &subnet, const QString &gateway,
                            int port)
{
    return {QStringLiteral("enet:ip ") + quoted(ipAddress),
            QStringLiteral("enet:gateway ") + quoted(gateway),
            QStringLiteral("enet:submask ") + quoted(subnet),
            QStringLiteral("enet:port ") + QString::number(port), QStringLiteral("enet:prot 1")};
}

QString networkSettingsProblem(const QString &ipAddress, const QString &subnet,
                               const QString &gateway, const QString &port)
{
    const QPair<const char *, QString> addresses[] = {
        {"IP address", ipAddress}, {"subnet mask", subnet}, {"gateway", gateway}};
    for (const auto &address : addresses) {
        if (!isAddress(address.second))
            return QStringLiteral("%1 \"%2\" is not four numbers from 0 to 255 joined by dots")
                .arg(QLatin1String(address.first), address.second);
    }
    if (!wholeNumber(port, 1, 65535))
        return QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(port);
    return QString();
}
} // namespace InstrumentCommands
