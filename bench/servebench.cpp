// Query round trips through `rfctl serve`, over its raw socket and over
// VXI-11, beside a direct raw socket to the simulator, each with the CPU time
// it costs every process involved, in alternating batches so a busy machine
// slows every way alike.
// Usage: bench_serve [samples]
#include "benchmarks.h"
#include "vxi11client.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace
{
const QByteArray StatusQuery = "syst:readstate?\n";
const int Warmup = 50;
const int Batch = 50;

// A program of the tree as a child process, up once it has printed a line
// starting with `ready` (any line when empty); `line` is that line.
struct Child {
    QProcess process;
    QString line;

    bool start(const QString &program, const QStringList &args, const QString &ready)
    {
        process.start(program, args);
        QDeadlineTimer deadline(10000);
        while (line.isEmpty() || !line.startsWith(ready)) {
            if (!process.canReadLine() &&
                (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime()))))
                return false;
            if (process.canReadLine())
                line = QString::fromUtf8(process.readLine()).trimmed();
        }
        return true;
    }

    quint16 port() const { return quint16(line.section(':', -1).toUInt()); }

    // User and system time so far, from /proc.
    qint64 cpuNs() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        // The fields after the command name, which may hold blanks itself.
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
        return ticks * (1000000000LL / ::sysconf(_SC_CLK_TCK));
    }

    ~Child()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }
};

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

// Latency and CPU per query of `way` against the direct socket's.
void printRatios(const char *name, double limit, const Way &way, const Way &direct)
{
    const QString target = "<= " + QString::number(limit, 'f', 1) + "x direct";
    const auto row = [&](const char *figure, double value, double floor) {
        const double ratio = value / floor;
        printTarget(qPrintable(QString::fromLatin1(name) + ", " + figure), target,
                    QString::number(ratio, 'f', 2) + "x (" + QString::number(value, 'f', 1) +
                        " vs " + QString::number(floor, 'f', 1) + " us)",
                    ratio <= limit);
    };
    row("median", way.latency.medianUs, direct.latency.medianUs);
    row("CPU", way.cpuUs, direct.cpuUs);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 2000;

    Child sim;
    if (!sim.start(QStringLiteral(KXSIM_PATH), {"--port", "0"}, QString()))
        return fail("the simulator did not start");
    Child raw;
    if (!raw.start(
            QStringLiteral(RFCTL_PATH),
            {"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.port()), "serve", "--raw-port", "0"},
            QStringLiteral("raw ")))
        return fail("rfctl serve did not start");

    Child vxi11;
    if (!vxi11.start(QStringLiteral(RFCTL_PATH),
                     {"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim.port()), "serve",
                      "--raw-port", "0", "--vxi11"},
                     QStringLiteral("vxi11 ")))
        return fail("rfctl serve --vxi11 did not start");

    RawSocket directSocket;
    RawSocket servedSocket;
    Vxi11Client vxi11Client;
    if (!directSocket.open(sim.port()) || !servedSocket.open(raw.port()) ||
        !vxi11Client.open(vxi11.port()))
        return fail("a socket did not connect");
    Path direct{"direct raw socket to kxsim", [&] { return directSocket.ask(); }, {&sim}, {}, 0};
    Path served{
        "raw socket via rfctl serve", [&] { return servedSocket.ask(); }, {&sim, &raw}, {}, 0};
    Path overVxi11{"VXI-11 via rfctl serve",
                   [&] { return vxi11Client.query(StatusQuery); },
                   {&sim, &vxi11},
                   {},
                   0};
    const std::vector<Path *> paths{&direct, &served, &overVxi11};
    if (!measure(paths, samples))
        return fail("a query got no reply");

    std::printf("status queries against the simulator process, %d samples each, microseconds\n",
                samples);
    std::printf("%-30s %10s %10s %12s\n", "", "median", "p99", "CPU/query");
    for (const Path *path : paths) {
        const Way way = path->way();
        std::printf("%-30s %10.1f %10.1f %12.1f\n", path->name, way.latency.medianUs,
                    way.latency.p99Us, way.cpuUs);
    }
    std::printf("\n%-30s %-14s %-34s %s\n", "figure", "target", "measured", "");
    printRatios("raw via serve", 1.5, served.way(), direct.way());
    printRatios("VXI-11 via serve", 3.0, overVxi11.way(), direct.way());
    return 0;
}
