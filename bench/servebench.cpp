// Query round trips through `rfctl serve`, over its raw socket and over
// VXI-11, beside a direct raw socket to the simulator and socat forwarding to
// it, each with the CPU time it costs every process involved, in alternating
// batches so a busy machine slows every way alike. Then many clients at once,
// through the server and through socat.
// Usage: bench_serve [samples]
#include "benchmarks.h"
#include "serveload.h"
#include "serveprocesses.h"
#include "vxi11client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace
{
const QByteArray StatusQuery = "syst:readstate?\n";
const int Warmup = 50;
const int Batch = 50;

// What the server may cost over a plain byte forwarder, as ratios to socat.
const double RawMedianTarget = 1.2;
const double RawP99Target = 2.0;
const double RawCpuTarget = 1.5;
const double Vxi11MedianTarget = 1.5;
// And over a direct socket.
const double RawDirectTarget = 1.5;
const double Vxi11DirectTarget = 3.0;

// socat slower than this many times the direct socket ran starved on this
// machine (seen on a busy one, for a whole run), and the ratios to it flatter.
const double SocatStarvedFactor = 4.0;

// The clients of the load case, and how long they query.
const int LoadRawClients = 8;
const int LoadVxi11Clients = 4;
const int LoadSeconds = 10;

// A blocking client on a raw socket: the line protocol at its cheapest.
struct RawSocket {
    QTcpSocket socket;

    bool open(quint16 port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return socket.waitForConnected(5000);
    }

    bool ask()
    {
        if (socket.write(StatusQuery) != StatusQuery.size())
            return false;
        while (!socket.canReadLine()) {
            if (!socket.waitForReadyRead(5000))
                return false;
        }
        socket.readLine();
        return true;
    }
};

// One way to the instrument: how a query goes, and the processes whose CPU
// time it costs besides this one's.
struct Path {
    const char *name;
    std::function<bool()> ask;
    std::vector<const Child *> processes;
    QVector<qint64> ns;
    qint64 cpuNs = 0;

    qint64 cpuNow() const
    {
        qint64 total = processCpuNs();
        for (const Child *child : processes)
            total += child->cpuNs();
        return total;
    }

    bool batch(int count)
    {
        const qint64 cpuBefore = cpuNow();
        QElapsedTimer clock;
        for (int i = 0; i < count; ++i) {
            clock.start();
            if (!ask())
                return false;
            ns.append(clock.nsecsElapsed());
        }
        cpuNs += cpuNow() - cpuBefore;
        return true;
    }

    Way way() const { return {figuresOf(ns), cpuNs / 1000.0 / ns.size()}; }
};

bool measure(const std::vector<Path *> &paths, int samples)
{
    for (Path *path : paths) {
        for (int i = 0; i < Warmup; ++i) {
            if (!path->ask())
                return false;
        }
    }
    for (int done = 0; done < samples; done += Batch) {
        for (Path *path : paths) {
            if (!path->batch(std::min(Batch, samples - done)))
                return false;
        }
    }
    return true;
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_serve: %s\n", what);
    return 1;
}

// `value` of `name` against `floor`, the same figure of the way named
// `against`, with the ratio it may reach.
void printRatio(const QString &name, double value, double floor, const char *against, double limit)
{
    const double ratio = value / floor;
    printTarget(qPrintable(name), "<= " + QString::number(limit, 'f', 1) + "x " + against,
                QString::number(ratio, 'f', 2) + "x (" + QString::number(value, 'f', 1) + " vs " +
                    QString::number(floor, 'f', 1) + " us)",
                ratio <= limit);
}

void printTable(const std::vector<Path *> &paths, int samples)
{
    std::printf("status queries against the simulator process, %d samples each, microseconds\n",
                samples);
    std::printf("%-30s %10s %10s %12s\n", "", "median", "p99", "CPU/query");
    for (const Path *path : paths) {
        const Way way = path->way();
        std::printf("%-30s %10.1f %10.1f %12.1f\n", path->name, way.latency.medianUs,
                    way.latency.p99Us, way.cpuUs);
    }
}

void printAgainstDirect(const Way &raw, const Way &vxi11, const Way &direct)
{
    printRatio("raw via serve, median", raw.latency.medianUs, direct.latency.medianUs, "direct",
               RawDirectTarget);
    printRatio("raw via serve, CPU", raw.cpuUs, direct.cpuUs, "direct", RawDirectTarget);
    printRatio("VXI-11 via serve, median", vxi11.latency.medianUs, direct.latency.medianUs,
               "direct", Vxi11DirectTarget);
    printRatio("VXI-11 via serve, CPU", vxi11.cpuUs, direct.cpuUs, "direct", Vxi11DirectTarget);
}

void printAgainstSocat(const Way &raw, const Way &vxi11, const Way &socat)
{
    printRatio("raw via serve, median", raw.latency.medianUs, socat.latency.medianUs, "socat",
               RawMedianTarget);
    printRatio("raw via serve, p99", raw.latency.p99Us, socat.latency.p99Us, "socat", RawP99Target);
    printRatio("raw via serve, CPU", raw.cpuUs, socat.cpuUs, "socat", RawCpuTarget);
    printRatio("VXI-11 via serve, median", vxi11.latency.medianUs, socat.latency.medianUs, "socat",
               Vxi11MedianTarget);
}

// Raw and VXI-11 clients at once through the server, then as many raw ones
// through socat to a simulator of its own, which answers one at a time too.
int runLoadCase(quint16 rawPort, quint16 vxi11Port)
{
    std::vector<LoadClient> clients(LoadRawClients, {LoadClient::Raw, rawPort});
    clients.insert(clients.end(), LoadVxi11Clients, {LoadClient::Vxi11, vxi11Port});
    const LoadFigures served = runLoad(clients, StatusQuery, LoadSeconds);
    if (!served.ok)
        return fail("a client under load got no reply");
    std::printf("\n%d raw and %d VXI-11 clients at once for %d s\n", LoadRawClients,
                LoadVxi11Clients, LoadSeconds);
    std::printf("%-30s %10s %14s\n", "", "queries/s", "worst p99 us");
    std::printf("%-30s %10.0f %14.1f\n", "rfctl serve", served.queriesPerSecond, served.worstP99Us);
    if (socatProgram().isEmpty())
        return 0;
    Child sim;
    Child socat;
    if (!sim.start(QStringLiteral(KXSIM_PATH), {"--port", "0"}, QString()) ||
        !socat.startSocat(sim.port(), true))
        return fail("socat or its simulator did not start");
    const LoadFigures forwarded =
        runLoad(std::vector<LoadClient>(LoadRawClients, {LoadClient::Raw, socat.port()}),
                StatusQuery, LoadSeconds);
    if (!forwarded.ok)
        return fail("a client of socat under load got no reply");
    std::printf("%-30s %10.0f %14.1f\n",
                qPrintable(QStringLiteral("socat, %1 raw clients").arg(LoadRawClients)),
                forwarded.queriesPerSecond, forwarded.worstP99Us);
    std::printf("%-30s %10.2f\n", "serve / socat",
                served.queriesPerSecond / forwarded.queriesPerSecond);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 2000;

    Child sim;
    if (!sim.start(QStringLiteral(KXSIM_PATH), {"--port", "0"}, QString()))
        return fail("the simulator did not start");
    Child serve;
    if (!serve.start(QStringLiteral(RFCTL_PATH),
                     {"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.port()), "serve",
                      "--raw-port", "0", "--vxi11"},
                     QStringLiteral("vxi11 ")))
        return fail("rfctl serve did not start");
    const bool withSocat = !socatProgram().isEmpty();
    Child socat;
    if (withSocat && !socat.startSocat(sim.port(), false))
        return fail("socat did not start");

    RawSocket directSocket;
    RawSocket servedSocket;
    RawSocket socatSocket;
    Vxi11Client vxi11Client;
    if (!directSocket.open(sim.port()) || !servedSocket.open(serve.port("raw ")) ||
        !vxi11Client.open(serve.port("vxi11 ")) || (withSocat && !socatSocket.open(socat.port())))
        return fail("a socket did not connect");
    Path direct{"direct raw socket to kxsim", [&] { return directSocket.ask(); }, {&sim}, {}, 0};
    Path forwarded{
        "raw socket via socat", [&] { return socatSocket.ask(); }, {&sim, &socat}, {}, 0};
    Path served{
        "raw socket via rfctl serve", [&] { return servedSocket.ask(); }, {&sim, &serve}, {}, 0};
    Path overVxi11{"VXI-11 via rfctl serve",
                   [&] { return vxi11Client.query(StatusQuery); },
                   {&sim, &serve},
                   {},
                   0};
    std::vector<Path *> paths{&direct, &served, &overVxi11};
    if (withSocat)
        paths.insert(paths.begin() + 1, &forwarded);
    if (!measure(paths, samples))
        return fail("a query got no reply");

    printTable(paths, samples);
    std::printf("\n%-30s %-14s %-34s %s\n", "figure", "target", "measured", "");
    printAgainstDirect(served.way(), overVxi11.way(), direct.way());
    if (!withSocat)
        std::printf("socat is not installed: no figures against a plain forwarder\n");
    else
        printAgainstSocat(served.way(), overVxi11.way(), forwarded.way());
    if (withSocat &&
        forwarded.way().latency.medianUs > SocatStarvedFactor * direct.way().latency.medianUs)
        std::printf("socat ran starved in this run: do not trust the ratios to it\n");
    return runLoadCase(serve.port("raw "), serve.port("vxi11 "));
}
