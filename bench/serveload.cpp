#include "serveload.h"

#include "benchmarks.h"
#include "vxi11client.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>
#include <atomic>
#include <thread>

namespace
{
const int WaitMs = 5000;
// Where the raw clients connect from: the server takes MaxClientsPerAddress
// raw clients from one address, and the benchmark's own is on 127.0.0.1.
const QHostAddress RawClientAddress(QStringLiteral("127.0.0.2"));

bool rawQuery(QTcpSocket &socket, const QByteArray &query)
{
    if (socket.write(query) != query.size())
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(WaitMs))
            return false;
    }
    socket.readLine();
    return true;
}

struct ClientRun {
    QVector<qint64> ns;
    bool ok = false;
};

// One client's queries until `stop`; its sockets live on its own thread.
void runClient(const LoadClient &client, const QByteArray &query, const std::atomic<bool> &stop,
               ClientRun *run)
{
    QTcpSocket raw;
    Vxi11Client vxi11;
    if (client.kind == LoadClient::Raw) {
        raw.bind(RawClientAddress);
        raw.connectToHost(QStringLiteral("127.0.0.1"), client.port);
        raw.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (!raw.waitForConnected(WaitMs))
            return;
    } else if (!vxi11.open(client.port)) {
        return;
    }
    QElapsedTimer clock;
    while (!stop) {
        clock.start();
        if (!(client.kind == LoadClient::Raw ? rawQuery(raw, query) : vxi11.query(query)))
            return;
        run->ns.append(clock.nsecsElapsed());
    }
    run->ok = true;
}
} // namespace

LoadFigures runLoad(const std::vector<LoadClient> &clients, const QByteArray &query, int seconds)
{
    std::vector<ClientRun> runs(clients.size());
    std::vector<std::thread> threads;
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    clock.start();
    for (size_t i = 0; i < clients.size(); ++i)
        threads.emplace_back(runClient, clients[i], query, std::cref(stop), &runs[i]);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread &thread : threads)
        thread.join();
    const double elapsedS = clock.nsecsElapsed() / 1e9;

    LoadFigures figures;
    figures.ok = true;
    qint64 queries = 0;
    for (const ClientRun &run : runs) {
        figures.ok = figures.ok && run.ok;
        queries += run.ns.size();
        figures.worstP99Us = std::max(figures.worstP99Us, figuresOf(run.ns).p99Us);
    }
    figures.queriesPerSecond = queries / elapsedS;
    return figures;
}
