// Round trips through Connection on its worker thread beside a minimal
// blocking client on a bare socket, against the same simulator process. The
// two take turns in short batches, so a machine busy with other work slows
// both alike and their ratio stays meaningful.
#include "benchmarks.h"

#include "connection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <functional>

namespace
{
const QString StatusQuery = QStringLiteral("syst:readstate?");
const int Warmup = 50;
const int Batch = 50;

using Trip = std::function<bool()>;

struct Samples {
    QVector<qint64> ns;
    qint64 cpuNs = 0;

    bool run(const Trip &trip, int count)
    {
        QElapsedTimer clock;
        const qint64 cpuBefore = processCpuNs();
        for (int i = 0; i < count; ++i) {
            clock.start();
            if (!trip())
                return false;
            ns.append(clock.nsecsElapsed());
        }
        cpuNs += processCpuNs() - cpuBefore;
        return true;
    }

    Way way() const { return {figuresOf(ns), ns.isEmpty() ? 0 : cpuNs / 1000.0 / ns.size()}; }
};

bool alternate(int samples, const Trip &panel, const Trip &raw, Way *panelWay, Way *rawWay)
{
    for (int i = 0; i < Warmup; ++i) {
        if (!panel() || !raw())
            return false;
    }
    Samples panelSamples;
    Samples rawSamples;
    for (int done = 0; done < samples; done += Batch) {
        const int count = std::min(Batch, samples - done);
        if (!panelSamples.run(panel, count) || !rawSamples.run(raw, count))
            return false;
    }
    *panelWay = panelSamples.way();
    *rawWay = rawSamples.way();
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

// Connection on a worker thread, connected to the simulator, and a way to
// wait for its next reply without waiting for ever.
class PanelClient
{
public:
    explicit PanelClient(const QString &folder)
    {
        QDir::setCurrent(folder);
        connection->moveToThread(&worker);
        QObject::connect(&worker, &QThread::finished, connection, &QObject::deleteLater);
        QObject::connect(&requester, &Requester::connectTCP, connection, &Connection::connectTCP);
        QObject::connect(&requester, &Requester::command, connection, &Connection::command);
        QObject::connect(&requester, &Requester::query, connection, &Connection::query);
        QObject::connect(connection, &Connection::queryResponse, &loop, [this] {
            answered = true;
            loop.quit();
        });
        giveUp.setSingleShot(true);
        giveUp.setInterval(Connection::TcpReplyWaitMs + 1000);
        QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
        worker.start();
    }

    ~PanelClient()
    {
        worker.quit();
        worker.wait();
    }

    bool connectToSimulator()
    {
        QString result = "-2";
        const auto finished = QObject::connect(connection, &Connection::tcpConnFinished, &loop,
                                               [&](const QString &r) {
                                                   result = r;
                                                   loop.quit();
                                               });
        emit requester.connectTCP();
        giveUp.start();
        loop.exec();
        QObject::disconnect(finished);
        return result != "-2" && !result.isEmpty();
    }

    bool query()
    {
        emit requester.query(StatusQuery, MODE_STATUS);
        return awaitReply();
    }

    bool commandThenQuery()
    {
        emit requester.command("freq:tune " + QString::number(10.0, 'f', 4));
        return query();
    }

private:
    bool awaitReply()
    {
        answered = false;
        giveUp.start();
        loop.exec();
        giveUp.stop();
        return answered;
    }

    QThread worker;
    Connection *connection = new Connection;
    Requester requester;
    QEventLoop loop;
    QTimer giveUp;
    bool answered = false;
};
} // namespace

bool measureRoundTrips(quint16 port, int samples, RoundTrips *result)
{
    QTemporaryDir folder;
    if (!writeSettingsFile(folder.path(), port))
        return false;
    const QString previous = QDir::currentPath();
    PanelClient panel(folder.path());
    const bool connected = panel.connectToSimulator();
    QDir::setCurrent(previous);

    QTcpSocket raw;
    raw.connectToHost("127.0.0.1", port);
    if (!connected || !raw.waitForConnected(5000))
        return false;
    raw.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QByteArray tune = "freq:tune " + QByteArray::number(10.0, 'f', 4) + '\n';
    const QByteArray status = StatusQuery.toUtf8() + '\n';

    const Trip rawQuery = [&] { return raw.write(status) > 0 && rawReply(raw); };
    const Trip rawPair = [&] { return raw.write(tune) > 0 && rawQuery(); };
    return alternate(
               samples, [&] { return panel.query(); }, rawQuery, &result->panelQuery,
               &result->rawQuery) &&
           alternate(
               samples, [&] { return panel.commandThenQuery(); }, rawPair, &result->panelPair,
               &result->rawPair);
}

#include "roundtrip.moc"
