#include "mdnsannouncer.h"

namespace
{
// A DNS label, less its length byte.
constexpr int MaxNameBytes = 63;
constexpr quint16 LxiWebPort = 80;
constexpr quint16 PortmapperPort = 111;
} // namespace

QString MdnsAnnouncer::serviceName(const QString &identification)
{
    const QStringList fields = identification.split(',');
    QString name =
        fields.size() >= 3 ? fields.at(1).trimmed() + ' ' + fields.at(2).trimmed() : identification;
    QString printable;
    for (const QChar c : name)
        if (c.isPrint())
            printable += c;
    name = printable.trimmed();
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(1);
    return name;
}

QList<MdnsAnnouncer::Service> MdnsAnnouncer::lxiServices(quint16 rawPort, bool vxi11)
{
    QList<Service> services{{"_lxi._tcp", LxiWebPort}, {"_scpi-raw._tcp", rawPort}};
    if (vxi11)
        services.append({"_vxi-11._tcp", PortmapperPort});
    return services;
}
