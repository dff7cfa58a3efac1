#include "instrumentmodel.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>
#include <cmath>
#include <functional>
#include <utility>

namespace
{

constexpr int stateCount = 5;
constexpr int portCount = 4;
constexpr int gateCount = 22; // channels 1-4 with devices 0-4, channel 5 with devices 0-1
constexpr int channelCount = 5;
constexpr qint64 minTuneMHz = 2000;
constexpr qint64 maxTuneMHz = 18000;
constexpr double defaultGateVolts = -0.5;
constexpr double biasGateVolts = -0.75;
const QByteArray temperatureText = "35.2";
// Beyond any temperature the instrument could report.
constexpr double faultTemperatureLimit = 1000.0;
const QByteArray currentText = "1.25";

// Whole-argument integer parse; rejects blanks, fractions and trailing junk.
// QByteArray's conversions stop at a NUL byte, so one would hide the junk after it.
std::optional<int> parseInt(const QByteArray &text)
{
    if (text.contains('\0'))
        return std::nullopt;
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<double> parseDouble(const QByteArray &text)
{
    if (text.contains('\0'))
        return std::nullopt;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Splits "a,b,c" into exactly `count` parsed numbers, or nothing.
template <typename T, typename Parse>
std::optional<QList<T>> parseList(const QByteArray &text, int count, Parse parse)
{
    const QList<QByteArray> parts = text.split(',');
    if (parts.size() != count)
        return std::nullopt;
    QList<T> values;
    for (const QByteArray &part : parts) {
        const auto value = parse(part);
        if (!value)
            return std::nullopt;
        values.append(*value);
    }
    return values;
}

// The text between a pair of double quotes that enclose the whole argument.
std::optional<QByteArray> unquote(const QByteArray &text)
{
    const QByteArray t = text.trimmed();
    if (t.size() < 2 || !t.startsWith('"') || !t.endsWith('"'))
        return std::nullopt;
    return t.mid(1, t.size() - 2);
}

bool isDottedQuad(const QByteArray &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(\\.(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)){3}$"));
    return pattern.match(QString::fromLatin1(text)).hasMatch();
}

QByteArray fixed(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

template <typename T>
QByteArray joinNumbers(const QVector<T> &values, char format = 'f', int precision = 0)
{
    QList<QByteArray> parts;
    for (const T &v : values) {
        if constexpr (std::is_integral_v<T>)
            parts.append(QByteArray::number(v));
        else
            parts.append(QByteArray::number(v, format, precision));
    }
    return parts.join(',');
}

} // namespace

struct InstrumentModel::State {
    using Handler = std::function<std::optional<QByteArray>(State &, const QByteArray &arg)>;

    Config config;

    qint64 tuneMHz = 10000;
    int pllMode = 0;
    int atten = 0;
    int lna = 1;
    int if300 = 1;
    int refExternal = 1;
    int refOverride = 1;
    int refFreqMHz = 100;
    QList<StoredState> stored = QVector<StoredState>(stateCount).toList();

    QString ip = QStringLiteral("127.0.0.1");
    QString subnet = QStringLiteral("255.0.0.0");
    QString gateway = QStringLiteral("127.0.0.1");
    int port = 0;
    int protocol = 1;

    QList<QByteArray> moduleAnswers = QVector<QByteArray>(portCount).toList();
    double time = 0.0;
    bool factoryMode = false;
    QVector<double> gates = QVector<double>(gateCount, defaultGateVolts);
    QVector<double> storedGates = gates;
    QVector<int> attens = QVector<int>(channelCount, 0);
    bool powered = true;
    QVector<int> loLocks = QVector<int>(3, 1);
    QByteArray temperature = temperatureText;

    // The tune frequency snapped to the grid of the given PLL mode.
    static qint64 snapMHz(double ghz, int mode)
    {
        const double mhz = ghz * 1000.0;
        if (mode == 1)
            return static_cast<qint64>(std::llround(mhz / 400.0)) * 400;
        return static_cast<qint64>(std::llround(mhz));
    }

    void tune(const QByteArray &arg)
    {
        const auto ghz = parseDouble(arg);
        // Refused before rounding, like every other value out of range: 18.1
        // must not land on 18 GHz. Both band edges lie on the 400 MHz grid, so
        // what passes stays in the band once snapped.
        if (!ghz || *ghz < minTuneMHz / 1000.0 || *ghz > maxTuneMHz / 1000.0)
            return;
        tuneMHz = snapMHz(*ghz, pllMode);
    }

    void setPllMode(const QByteArray &arg)
    {
        const auto mode = parseInt(arg);
        if (!mode || (*mode != 0 && *mode != 1))
            return;
        pllMode = *mode;
        // The 400 MHz grid has points at both band edges, so re-snapping stays in range.
        tuneMHz = snapMHz(tuneMHz / 1000.0, pllMode);
    }

    int filterState() const
    {
        if (tuneMHz <= 5500)
            return 0;
        if (tuneMHz <= 10000)
            return 1;
        if (tuneMHz <= 14000)
            return 2;
        return 3;
    }

    QByteArray status() const
    {
        const double tune = tuneMHz / 1000.0;
        const double lo1 = tune + (if300 ? 0.300 : 0.187);
        QList<QByteArray> f;
        f << fixed(lo1, 5) << fixed(tune, 4) << QByteArray::number(atten) << QByteArray::number(lna)
          << QByteArray::number(loLocks[0]) << QByteArray::number(loLocks[1])
          << QByteArray::number(loLocks[2]) << "0" << QByteArray::number(refExternal)
          << QByteArray::number(refOverride) << QByteArray::number(refFreqMHz)
          << QByteArray::number(filterState()) << QByteArray::number(pllMode) << temperature
          << currentText << QByteArray::number(if300);
        return f.join(',');
    }

    std::optional<int> stateIndex(const QByteArray &arg) const
    {
        const auto n = parseInt(arg);
        if (!n || *n < 0 || *n >= stored.size())
            return std::nullopt;
        return n;
    }

    QByteArray bootStates() const
    {
        QList<QByteArray> states;
        for (const StoredState &s : stored)
            states << fixed(s.tuneGHz, 4) + ',' + QByteArray::number(s.atten) + ',' +
                          QByteArray::number(s.lna) + ',' + QByteArray::number(s.if300);
        return states.join(';');
    }

    bool portFitted(int n) const
    {
        return n >= 0 && n < portCount && (config.moduleMask & (1 << n)) &&
               n < config.modules.size();
    }

    // Gate index of (channel, device), or nothing for a gate the board does not have.
    static std::optional<int> gateIndex(int channel, int device)
    {
        if (channel < 1 || channel > 5 || device < 0 || device > 4)
            return std::nullopt;
        const int index = (channel - 1) * 5 + device;
        if (index >= gateCount)
            return std::nullopt;
        return index;
    }

    QVector<int> currents() const
    {
        if (!powered)
            return QVector<int>(channelCount, 0);
        return {412, 398, 405, 420, 150};
    }

    static const QHash<QByteArray, Handler> &table();
    static const QHash<QByteArray, Handler> &faultTable();
    std::optional<QByteArray> execute(const QByteArray &line);
};

const QHash<QByteArray, InstrumentModel::State::Handler> &InstrumentModel::State::table()
{
    using R = std::optional<QByteArray>;
    auto command = [](std::function<void(State &, const QByteArray &)> f) -> Handler {
        return [f = std::move(f)](State &s, const QByteArray &a) -> R {
            f(s, a);
            return std::nullopt;
        };
    };
    auto query = [](std::function<QByteArray(const State &)> f) -> Handler {
        return [f = std::move(f)](State &s, const QByteArray &) -> R { return f(s); };
    };
    auto setInRange = [command](int State::*member, int lo, int hi) {
        return command([member, lo, hi](State &s, const QByteArray &a) {
            const auto v = parseInt(a);
            if (v && *v >= lo && *v <= hi)
                s.*member = *v;
        });
    };
    auto setAddress = [command](QString State::*member) {
        return command([member](State &s, const QByteArray &a) {
            const auto text = unquote(a);
            if (text && isDottedQuad(*text))
                s.*member = QString::fromLatin1(*text);
        });
    };

    static const QHash<QByteArray, Handler> handlers = {
        {"*idn?", query([](const State &s) { return s.config.idn.toUtf8(); })},
        {"syst:readstate?", query([](const State &s) { return s.status(); })},
        {"freq:tune", command([](State &s, const QByteArray &a) { s.tune(a); })},
        {"freq:pllm", command([](State &s, const QByteArray &a) { s.setPllMode(a); })},
        {"fact:rfatten", setInRange(&State::atten, 0, 31)},
        {"powe:lna", setInRange(&State::lna, 0, 1)},
        {"freq:ref:freq", setInRange(&State::refFreqMHz, 10, 100)},
        {"freq:ref:refover", command([](State &s, const QByteArray &a) {
             const auto v = parseInt(a);
             if (!v || (*v != 0 && *v != 1))
                 return;
             s.refOverride = *v;
             if (*v == 0)
                 s.refExternal = 0;
         })},
        {"freq:ref:ext", command([](State &s, const QByteArray &a) {
             const auto v = parseInt(a);
             if (v && (*v == 0 || *v == 1) && s.refOverride == 1)
                 s.refExternal = *v;
         })},
        {"fact:slot2", command([](State &s, const QByteArray &a) {
             const QByteArray inner = a.trimmed().toLower();
             if (inner == "\"freq>set 21.000\"")
                 s.if300 = 1;
             else if (inner == "\"freq>set 20.887\"")
                 s.if300 = 0;
         })},
        {"syst:savestate", command([](State &s, const QByteArray &a) {
             if (const auto n = s.stateIndex(a))
                 s.stored[*n] = StoredState{s.tuneMHz / 1000.0, s.atten, s.lna, s.if300};
         })},
        {"syst:loadstate", command([](State &s, const QByteArray &a) {
             const auto n = s.stateIndex(a);
             if (!n)
                 return;
             const StoredState &st = s.stored.at(*n);
             s.tuneMHz = snapMHz(st.tuneGHz, s.pllMode);
             s.atten = st.atten;
             s.lna = st.lna;
             s.if300 = st.if300;
         })},
        {"syst:bootstate?", query([](const State &s) { return s.bootStates(); })},
        {"enet:ip?", query([](const State &s) { return s.ip.toUtf8(); })},
        {"enet:gateway?", query([](const State &s) { return s.gateway.toUtf8(); })},
        {"enet:submask?", query([](const State &s) { return s.subnet.toUtf8(); })},
        {"enet:port?", query([](const State &s) { return QByteArray::number(s.port); })},
        {"enet:ip", setAddress(&State::ip)},
        {"enet:gateway", setAddress(&State::gateway)},
        {"enet:submask", setAddress(&State::subnet)},
        {"enet:port", setInRange(&State::port, 1, 65535)},
        {"enet:prot", setInRange(&State::protocol, 0, 1)},
        {"syst:firmid?", query([](const State &s) { return s.config.firmwareId.toUtf8(); })},
        {"syst:modu?",
         query([](const State &s) { return QByteArray::number(s.config.moduleMask); })},
        {"lcd:lcd?", query([](const State &s) { return QByteArray::number(s.config.lcdFitted); })},
        {"lcd:sernum?", query([](const State &s) { return s.config.lcdSerial.toUtf8(); })},
        {"lcd:vers?", query([](const State &s) { return s.config.lcdVersion.toUtf8(); })},
        {"syst:altera?", query([](const State &s) { return s.config.alteraId.toUtf8(); })},
        {"syst:time", command([](State &s, const QByteArray &a) {
             if (const auto t = parseDouble(a))
                 s.time = *t;
         })},
        {"syst:time?", query([](const State &s) { return QByteArray::number(s.time, 'g', 6); })},
        {"fact:factmode", command([](State &s, const QByteArray &a) {
             if (a.trimmed() == "48173")
                 s.factoryMode = true;
         })},
        {"fact:onegatevoltage", command([](State &s, const QByteArray &a) {
             const QList<QByteArray> parts = a.split(',');
             if (parts.size() != 3)
                 return;
             const auto channel = parseInt(parts[0]);
             const auto device = parseInt(parts[1]);
             const auto volts = parseDouble(parts[2]);
             if (!channel || !device || !volts)
                 return;
             if (const auto index = gateIndex(*channel, *device))
                 s.gates[*index] = *volts;
         })},
        {"fact:biasgate", command([](State &s, const QByteArray &a) {
             const auto pair = parseList<int>(a, 2, parseInt);
             if (!pair)
                 return;
             if (const auto index = gateIndex(pair->at(0), pair->at(1)))
                 s.gates[*index] = biasGateVolts;
         })},
        {"fact:savegate", command([](State &s, const QByteArray &) { s.storedGates = s.gates; })},
        {"fact:storgate?",
         query([](const State &s) { return joinNumbers(s.storedGates, 'f', 3); })},
        {"syst:gatevolt?", query([](const State &s) { return joinNumbers(s.gates, 'f', 3); })},
        {"syst:curr?", query([](const State &s) { return joinNumbers(s.currents(), 'f', 0); })},
        {"syst:temp?", query([](const State &) { return QByteArray("35.2,34.8,36.1,35.5,33.9"); })},
        {"syst:boardid?", query([](const State &) { return QByteArray("17"); })},
        {"syst:sernum?", query([](const State &) { return QByteArray("123"); })},
        {"syst:firm?", query([](const State &) { return QByteArray("V2.10.3"); })},
        {"syst:attn", command([](State &s, const QByteArray &a) {
             const auto pair = parseList<int>(a, 2, parseInt);
             if (!pair)
                 return;
             const int channel = pair->at(0);
             const int value = pair->at(1);
             if (channel >= 1 && channel <= channelCount && value >= 0 && value <= 31)
                 s.attens[channel - 1] = value;
         })},
        {"syst:attn?", query([](const State &s) { return joinNumbers(s.attens, 'f', 0); })},
        {"syst:powe", command([](State &s, const QByteArray &a) {
             const auto v = parseInt(a);
             if (v && (*v == 0 || *v == 1))
                 s.powered = *v == 1;
         })},
        {"syst:modulestatus?", query([](const State &s) {
             QVector<int> status;
             for (int n = 0; n < portCount; ++n)
                 status << (s.portFitted(n) && s.powered ? 1 : 0);
             return joinNumbers(status, 'f', 0);
         })},
    };
    return handlers;
}

const QHash<QByteArray, InstrumentModel::State::Handler> &InstrumentModel::State::faultTable()
{
    auto setLock = [](int locked) -> Handler {
        return [locked](State &s, const QByteArray &a) -> std::optional<QByteArray> {
            const auto lo = parseInt(a);
            if (lo && *lo >= 1 && *lo <= s.loLocks.size())
                s.loLocks[*lo - 1] = locked;
            return std::nullopt;
        };
    };
    static const QHash<QByteArray, Handler> handlers = {
        {"fault:unlock", setLock(0)},
        {"fault:lock", setLock(1)},
        {"fault:temperature",
         [](State &s, const QByteArray &a) -> std::optional<QByteArray> {
             const auto celsius = parseDouble(a);
             if (celsius && std::abs(*celsius) < faultTemperatureLimit)
                 s.temperature = QByteArray::number(*celsius, 'g', 15);
             return std::nullopt;
         }},
    };
    return handlers;
}

std::optional<QByteArray> InstrumentModel::State::execute(const QByteArray &rawLine)
{
    const QByteArray line = rawLine.trimmed();
    const int blank = line.indexOf(' ');
    const QByteArray keyword = (blank < 0 ? line : line.left(blank)).toLower();
    const QByteArray arg = blank < 0 ? QByteArray() : line.mid(blank + 1);

    const auto &handlers = table();
    const auto it = handlers.constFind(keyword);
    if (it != handlers.constEnd())
        return (*it)(*this, arg);
    if (config.faults) {
        const auto fault = faultTable().constFind(keyword);
        if (fault != faultTable().constEnd())
            return (*fault)(*this, arg);
    }

    // Per-port module commands carry the port digit in the keyword.
    static const QRegularExpression portKeyword(
        QStringLiteral("^syst:(sendstr|readstr|firmid):([0-9])([?]?)$"));
    const auto match = portKeyword.match(QString::fromLatin1(keyword));
    if (!match.hasMatch())
        return std::nullopt;
    const QString verb = match.captured(1);
    const int n = match.captured(2).toInt();
    const bool isQuery = !match.captured(3).isEmpty();
    if (!portFitted(n))
        return std::nullopt;
    const Module &module = config.modules.at(n);
    if (verb == QLatin1String("sendstr") && !isQuery) {
        const auto forwarded = unquote(arg);
        if (forwarded && forwarded->trimmed().toLower() == "*idn?")
            moduleAnswers[n] = module.idn.toUtf8();
        return std::nullopt;
    }
    if (verb == QLatin1String("readstr") && isQuery) {
        // The module answers once; reading again without a new request gives nothing.
        const QByteArray answer = moduleAnswers.at(n);
        moduleAnswers[n].clear();
        return answer;
    }
    if (verb == QLatin1String("firmid") && isQuery)
        return module.firmwareId.toUtf8();
    return std::nullopt;
}

InstrumentModel::InstrumentModel() : d(new State) {}

InstrumentModel::InstrumentModel(const Config &config) : d(new State)
{
    d->config = config;
}

InstrumentModel::~InstrumentModel()
{
    delete d;
}

InstrumentModel::InstrumentModel(const InstrumentModel &other) : d(new State(*other.d)) {}

InstrumentModel &InstrumentModel::operator=(const InstrumentModel &other)
{
    if (this != &other)
        *d = *other.d;
    return *this;
}

std::optional<QByteArray> InstrumentModel::execute(const QByteArray &line)
{
    return d->execute(line);
}

InstrumentModel::Config &InstrumentModel::config()
{
    return d->config;
}

const InstrumentModel::Config &InstrumentModel::config() const
{
    return d->config;
}

double InstrumentModel::tuneGHz() const
{
    return d->tuneMHz / 1000.0;
}

int InstrumentModel::pllMode() const
{
    return d->pllMode;
}

int InstrumentModel::atten() const
{
    return d->atten;
}

int InstrumentModel::lna() const
{
    return d->lna;
}

int InstrumentModel::if300() const
{
    return d->if300;
}

int InstrumentModel::refExternal() const
{
    return d->refExternal;
}

int InstrumentModel::refOverride() const
{
    return d->refOverride;
}

int InstrumentModel::refFreqMHz() const
{
    return d->refFreqMHz;
}

int InstrumentModel::filterState() const
{
    return d->filterState();
}

QString InstrumentModel::temperature() const
{
    return QString::fromLatin1(d->temperature);
}

QString InstrumentModel::current() const
{
    return QString::fromLatin1(currentText);
}

QByteArray InstrumentModel::statusReply() const
{
    return d->status();
}

QList<InstrumentModel::StoredState> InstrumentModel::storedStates() const
{
    return d->stored;
}

QString InstrumentModel::ipAddress() const
{
    return d->ip;
}

QString InstrumentModel::subnet() const
{
    return d->subnet;
}

QString InstrumentModel::gateway() const
{
    return d->gateway;
}

int InstrumentModel::port() const
{
    return d->port;
}

void InstrumentModel::setPort(int port)
{
    d->port = port;
}
