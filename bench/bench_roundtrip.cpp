// Prints how long a status query, and a command followed by a status query,
// take through Connection on its worker thread, beside a minimal blocking
// client on a bare socket doing the same against the same simulator.
#include "connection.h"
#include "networksettingsfile.h"
#include "simserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace
{
const QString StatusQuery = QStringLiteral("syst:readstate?");
const int Warmup = 50;
const int Block = 50;

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
};

Figures figures(QVector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    const int p99 = std::min(int(ns.size()) - 1, int(std::ceil(0.99 * ns.size())) - 1);
    return {ns.at(ns.size() / 2) / 1000.0, ns.at(p99) / 1000.0};
}

// The two ways take turns in short blocks, so a machine busy with other work
// slows both alike and the ratio stays meaningful, while each block runs warm
// like a steady stream of requests.
bool measure(int samples, const std::function<bool()> &panel, const std::function<bool()> &raw,
             Figures *panelFigures, Figures *rawFigures)
{
    for (int i = 0; i < Warmup; ++i) {
        if (!panel() || !raw())
            return false;
    }
    QVector<qint64> panelNs;
    QVector<qint64> rawNs;
    QElapsedTimer clock;
    auto run = [&](const std::function<bool()> &trip, QVector<qint64> &ns, int count) {
        for (int i = 0; i < count; ++i) {
            clock.start();
            if (!trip())
                return false;
            ns.append(clock.nsecsElapsed());
        }
        return true;
    };
    for (int done = 0; done < samples; done += Block) {
        const int count = std::min(Block, samples - done);
        if (!run(panel, panelNs, count) || !run(raw, rawNs, count))
            return false;
    }
    *panelFigures = figures(panelNs);
    *rawFigures = figures(rawNs);
    return true;
}

// Blocking line exchange on a bare socket: the cost floor for one reply.
bool rawReply(QTcpSocket &socket)
{
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (!socket.waitForReadyRead(5000))
            return false;
        reply += socket.readAll();
    }
    return true;
}

// Stands where the main window stands: asks by signal, hears back by signal.
class Requester : public QObject
{
    Q_OBJECT
signals:
    void connectTCP();
    void command(QString c);
    void query(QString q, calling_mode_t mode);
};

void printRow(const char *name, const Figures &f)
{
    std::printf("%-28s %10.1f %10.1f\n", name, f.medianUs, f.p99Us);
}

void printRatio(const char *name, const Figures &panel, const Figures &raw, double target)
{
    const double median = panel.medianUs / raw.medianUs;
    const double p99 = panel.p99Us / raw.p99Us;
    std::printf("%-28s %10.2f %10.2f   target <= %.1f: %s\n", name, median, p99, target,
                median <= target ? "met" : "missed");
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 1000;

    SimServer sim;
    if (!sim.start(0)) {
        std::fprintf(stderr, "simulator cannot listen\n");
        return 1;
    }
    QTemporaryDir workdir;
    QDir::setCurrent(workdir.path());
    NetworkSettingsFile().write({"127.0.0.1", "255.0.0.0", "127.0.0.1", sim.port()});

    QThread worker;
    auto *connection = new Connection;
    connection->moveToThread(&worker);
    QObject::connect(&worker, &QThread::finished, connection, &QObject::deleteLater);
    Requester requester;
    QObject::connect(&requester, &Requester::connectTCP, connection, &Connection::connectTCP);
    QObject::connect(&requester, &Requester::command, connection, &Connection::command);
    QObject::connect(&requester, &Requester::query, connection, &Connection::query);
    worker.start();

    QEventLoop loop;
    QString connected;
    QObject::connect(connection, &Connection::tcpConnFinished, &loop, [&](const QString &result) {
        connected = result;
        loop.quit();
    });
    emit requester.connectTCP();
    loop.exec();
    if (connected == "-2") {
        std::fprintf(stderr, "Connection could not reach the simulator\n");
        return 1;
    }
    bool answered = false;
    QObject::connect(connection, &Connection::queryResponse, &loop, [&] {
        answered = true;
        loop.quit();
    });
    // A lost reply would leave the loop waiting for ever; give up instead.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    giveUp.setInterval(Connection::TcpReplyWaitMs + 1000);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto awaitReply = [&] {
        answered = false;
        giveUp.start();
        loop.exec();
        giveUp.stop();
        return answered;
    };

    QTcpSocket raw;
    raw.connectToHost("127.0.0.1", sim.port());
    if (!raw.waitForConnected(5000)) {
        std::fprintf(stderr, "raw client could not reach the simulator\n");
        return 1;
    }
    raw.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QByteArray tune = "freq:tune " + QByteArray::number(10.0, 'f', 4) + '\n';
    const QByteArray status = StatusQuery.toUtf8() + '\n';

    auto panelQueryTrip = [&] {
        emit requester.query(StatusQuery, MODE_STATUS);
        return awaitReply();
    };
    auto rawQueryTrip = [&] {
        raw.write(status);
        return rawReply(raw);
    };
    auto panelPairTrip = [&] {
        emit requester.command("freq:tune " + QString::number(10.0, 'f', 4));
        emit requester.query(StatusQuery, MODE_STATUS);
        return awaitReply();
    };
    auto rawPairTrip = [&] {
        raw.write(tune);
        raw.write(status);
        return rawReply(raw);
    };
    Figures panelQuery, rawQuery, panelPair, rawPair;
    const bool complete = measure(samples, panelQueryTrip, rawQueryTrip, &panelQuery, &rawQuery) &&
                          measure(samples, panelPairTrip, rawPairTrip, &panelPair, &rawPair);
    if (!complete) {
        std::fprintf(stderr, "a round trip got no reply\n");
        return 1;
    }

    std::printf("loopback round trips, %d samples each after %d warm-up, microseconds\n", samples,
                Warmup);
    std::printf("%-28s %10s %10s\n", "", "median", "p99");
    printRow("query via Connection", panelQuery);
    printRow("query raw socket", rawQuery);
    printRow("command+query via Connection", panelPair);
    printRow("command+query raw socket", rawPair);
    std::printf("%-28s %10s %10s\n", "ratio Connection/raw", "median", "p99");
    printRatio("query", panelQuery, rawQuery, 1.5);
    printRatio("command+query", panelPair, rawPair, 2.0);

    worker.quit();
    worker.wait();
    return 0;
}

#include "bench_roundtrip.moc"
