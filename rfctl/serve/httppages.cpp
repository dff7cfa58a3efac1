#include "httppages.h"

#include "identification.h"
#include "statusfields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QXmlStreamWriter>
#include <cmath>

namespace
{
const QString LxiNamespace =
    QStringLiteral("http://www.lxistandard.org/InstrumentIdentification/1.0");
const QString XsiNamespace = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");

// A number as Prometheus reads it, whatever the system locale.
QByteArray sampleValue(double value)
{
    return QByteArray::number(value, 'g', 15);
}

QByteArray labelValue(const QString &text)
{
    QByteArray out = text.toUtf8();
    out.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return '"' + out + '"';
}

class Exposition
{
public:
    void gauge(const char *name, const char *help) { family(name, help, "gauge"); }
    void counter(const char *name, const char *help) { family(name, help, "counter"); }
    void sample(const char *name, double value, const QByteArray &labels = {})
    {
        text += QByteArray(name) + (labels.isEmpty() ? QByteArray() : '{' + labels + '}') + ' ' +
                sampleValue(value) + '\n';
    }
    // A one-sample gauge.
    void single(const char *name, const char *help, double value)
    {
        gauge(name, help);
        sample(name, value);
    }
    QByteArray text;

private:
    void family(const char *name, const char *help, const char *type)
    {
        text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
};

// The measured fields of the status, each with its metric and the factor
// from the unit the instrument gives it in to the base unit.
struct Measured {
    const char *field;
    const char *metric;
    double toBase;
    const char *help;
};
const Measured MeasuredFields[] = {
    {"temperature", "rfconverter_temperature_celsius", 1, "Temperature inside the converter."},
    {"current", "rfconverter_current_amperes", 1, "Supply current drawn by the converter."},
    {"tuneFrequency", "rfconverter_tune_frequency_hertz", 1e9, "Tune frequency."},
    {"lo1Frequency", "rfconverter_lo1_frequency_hertz", 1e9, "Internal LO1 frequency."},
    {"attenuation", "rfconverter_attenuation_db", 1, "Down-converter attenuation."},
    {"ifFrequency", "rfconverter_if_frequency_hertz", 1e6, "IF frequency."},
    {"referenceFrequency", "rfconverter_reference_frequency_hertz", 1e6, "Reference frequency."},
};

// "http://192.0.2.10:8080", "http://[fe80::1%25eth0]:8080".
QString webAddress(const QHostAddress &host, quint16 port)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host.toString());
    url.setPort(port);
    return url.toString(QUrl::FullyEncoded);
}

QString boolean(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

void writeInterface(QXmlStreamWriter *xml, const HostInterface &interface,
                    const HttpIdentity &identity)
{
    const bool ipv6 = interface.address.protocol() == QAbstractSocket::IPv6Protocol;
    xml->writeStartElement(LxiNamespace, QStringLiteral("Interface"));
    xml->writeAttribute(XsiNamespace, QStringLiteral("type"), QStringLiteral("NetworkInformation"));
    xml->writeAttribute(QStringLiteral("InterfaceType"), QStringLiteral("LXI"));
    xml->writeAttribute(QStringLiteral("IPType"),
                        ipv6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4"));
    if (!interface.name.isEmpty())
        xml->writeAttribute(QStringLiteral("InterfaceName"), interface.name);
    const auto field = [xml](const char *name, const QString &text) {
        xml->writeTextElement(LxiNamespace, QLatin1String(name), text);
    };
    for (const QString &address : visaAddresses(interface.address, identity))
        field("InstrumentAddressString", address);
    field("Hostname", identity.hostname);
    field("IPAddress", interface.address.toString());
    field("SubnetMask", interface.mask);
    field("MACAddress", interface.mac);
    field("Gateway", interface.gateway.toString());
    field("DHCPEnabled", boolean(interface.dhcp));
    // The server takes the host's addresses as they are and picks none itself.
    field("AutoIPEnabled", boolean(false));
    xml->writeEndElement();
}

void statusMetrics(const StatusReply &status, Exposition *out)
{
    const QJsonObject fields = statusJson(status);
    for (const Measured &m : MeasuredFields) {
        const QJsonValue value = fields.value(QLatin1String(m.field)).toObject().value("value");
        if (value.isDouble())
            out->single(m.metric, m.help, value.toDouble() * m.toBase);
    }
    out->gauge("rfconverter_lo_locked", "1 when the LO is locked.");
    for (int lo = 1; lo <= 3; ++lo)
        out->sample("rfconverter_lo_locked", status.loLocked(lo),
                    "lo=\"" + QByteArray::number(lo) + '"');
    out->single("rfconverter_lna_on", "1 when the LNA is on.", status.lnaOn());
    out->single("rfconverter_lo1_external", "1 when LO1 comes from outside.", status.lo1External());
    out->single("rfconverter_reference_external", "1 when the reference comes from outside.",
                status.referenceExternal());
    out->single("rfconverter_reference_override", "1 when the reference override is on.",
                status.overrideActive());
    bool ok = false;
    const double filter = status.filterState().toDouble(&ok);
    if (ok)
        out->single("rfconverter_filter_state", "The filter selected.", filter);
    out->single("rfconverter_pll_integer", "1 in integer PLL mode, 0 in fractional mode.",
                status.integerPll());
}
} // namespace

QByteArray metricsPage(const HttpSnapshot &s)
{
    const StatusSnapshot::Data &in = s.instrument;
    const bool up = in.fresh(s.now);
    Exposition out;
    out.single("rfconverter_up",
               "1 while the link is up and the status is no older than 3 status intervals.",
               up ? 1 : 0);
    if (in.readAt.isValid())
        out.single("rfconverter_status_age_seconds", "Seconds since the last status read.",
                   in.ageSeconds(s.now));
    out.single("rfconverter_instrument_locked", "1 while a client holds the instrument's lock.",
               in.lockedByClient ? 1 : 0);
    out.single("rfconverter_status_interval_seconds", "Seconds between the server's status reads.",
               in.intervalMs / 1000.0);
    if (!in.identification.isEmpty()) {
        const Identification id = Identification::of(in.identification);
        out.gauge("rfconverter_info", "The instrument's identification.");
        out.sample("rfconverter_info", 1,
                   "model=" + labelValue(id.model) + ",serial=" + labelValue(id.serial) +
                       ",firmware=" + labelValue(id.firmware));
    }
    if (up)
        statusMetrics(*in.status, &out);
    out.counter("rfconverter_status_reads_total", "Status reads of the server's own.");
    out.sample("rfconverter_status_reads_total", double(in.reads));
    out.counter("rfconverter_status_read_errors_total",
                "Status reads of the server's own that gave no status.");
    out.sample("rfconverter_status_read_errors_total", double(in.readFailures));
    out.counter("rfconverter_requests_total",
                "Requests of every service's clients that reached the instrument or failed.");
    out.sample("rfconverter_requests_total", double(in.link.requests));
    out.counter("rfconverter_request_errors_total",
                "Requests that failed: refused, no reply in time, or the link down.");
    out.sample("rfconverter_request_errors_total", double(in.link.failed));
    out.single("rfconverter_clients", "Clients connected: raw, VXI-11 links and HTTP.",
               double(in.link.clients + s.httpClients));
    out.counter("rfconverter_http_requests_total", "HTTP requests answered.");
    out.sample("rfconverter_http_requests_total", double(s.httpRequests));
    out.counter("rfconverter_http_errors_total", "HTTP requests answered with an error.");
    out.sample("rfconverter_http_errors_total", double(s.httpErrors));
    out.single("rfconverter_http_clients", "HTTP clients connected.", double(s.httpClients));
    out.counter("rfconverter_link_losses_total", "Times the link to the instrument went down.");
    out.sample("rfconverter_link_losses_total", double(in.link.linkLosses));
    return out.text;
}

QByteArray statusJsonPage(const HttpSnapshot &s)
{
    const StatusSnapshot::Data &in = s.instrument;
    const bool up = in.fresh(s.now);
    QJsonObject page = in.status ? statusJson(*in.status) : QJsonObject();
    page.insert(QStringLiteral("up"), up);
    if (!up) {
        const double bound = StatusSnapshot::StaleIntervals * in.intervalMs / 1000.0;
        page.insert(
            QStringLiteral("problem"),
            !in.problem.isEmpty()
                ? in.problem
                : QStringLiteral("no status read for %1 s").arg(QString::number(bound, 'f', 1)));
    }
    page.insert(QStringLiteral("linkUp"), in.linkUp);
    const bool read = in.readAt.isValid();
    page.insert(QStringLiteral("readAt"),
                read ? QJsonValue(in.readAt.toUTC().toString(Qt::ISODate)) : QJsonValue());
    page.insert(QStringLiteral("ageSeconds"),
                read ? QJsonValue(std::round(in.ageSeconds(s.now) * 10) / 10) : QJsonValue());
    page.insert(QStringLiteral("stale"), !in.status || (in.linkUp && !up));
    page.insert(QStringLiteral("lockedByClient"), in.lockedByClient);
    page.insert(QStringLiteral("target"), in.target);
    const Identification id = Identification::of(in.identification);
    page.insert(QStringLiteral("instrument"),
                QJsonObject{{QStringLiteral("manufacturer"), id.manufacturer},
                            {QStringLiteral("model"), id.model},
                            {QStringLiteral("serial"), id.serial},
                            {QStringLiteral("firmware"), id.firmware}});
    return QJsonDocument(page).toJson(QJsonDocument::Compact);
}

QByteArray identificationPage(const QString &identification, const HttpIdentity &identity)
{
    QList<HostInterface> interfaces = interfacesCarrying(identity.listen);
    if (interfaces.isEmpty())
        interfaces +=
            HostInterface{QString(), identity.listen, QString(), QString(), QHostAddress(), false};
    const Identification id = Identification::of(identification);
    QByteArray page;
    QXmlStreamWriter xml(&page);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(LxiNamespace);
    xml.writeNamespace(XsiNamespace, QStringLiteral("xsi"));
    xml.writeStartElement(LxiNamespace, QStringLiteral("LXIDevice"));
    const auto field = [&xml](const char *name, const QString &text) {
        xml.writeTextElement(LxiNamespace, QLatin1String(name), text);
    };
    field("Manufacturer", id.manufacturer);
    field("Model", id.model);
    field("SerialNumber", id.serial);
    field("FirmwareRevision", id.firmware);
    field("ManufacturerDescription", QStringLiteral("RF up/down converter"));
    const QString base = webAddress(interfaces.first().address, identity.httpPort);
    field("HomepageURL", base + '/');
    field("IdentificationURL", base + QStringLiteral("/lxi/identification"));
    for (const HostInterface &interface : interfaces)
        writeInterface(&xml, interface, identity);
    field("LXIVersion", QStringLiteral("1.5"));
    xml.writeEndElement();
    xml.writeEndDocument();
    return page;
}
