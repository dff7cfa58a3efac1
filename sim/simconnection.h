#ifndef SIMCONNECTION_H
#define SIMCONNECTION_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <functional>

class QTcpSocket;

// One client of the simulated instrument: frames its input into lines, hands
// each line to the server and sends the answer steps back strictly in order,
// so a delayed reply is never overtaken by the reply to a later query.
//
// A client cannot take more than its share: it gets a few lines per turn of
// the event loop, its unread input stays in the kernel (so TCP slows it
// down), and it is dropped once the replies it leaves unread pass a limit.
class SimConnection : public QObject
{
    Q_OBJECT
public:
    // One piece of output: wait `delayMs`, then write `data` or close the
    // link, by a reset when `reset` is set.
    struct Step {
        int delayMs = 0;
        QByteArray data;
        bool close = false;
        bool reset = false;
    };
    using LineHandler = std::function<QList<Step>(const QByteArray &line)>;

    // Replies a client may leave unread, queued here and in the socket, before it is dropped.
    static constexpr qint64 MaxUnreadOutput = qint64(1024) * 1024;
    // Lines of one client handled before the others get their turn.
    static constexpr int LinesPerTurn = 16;

    SimConnection(QTcpSocket *socket, LineHandler handler, QObject *parent = nullptr);

signals:
    void finished(SimConnection *connection);

private:
    void readLines();
    void takeLine(QByteArray line);
    void resumeLater();
    void pump();
    void perform(const Step &step);
    void dropUnreadClient();
    void resetLink();

    QTcpSocket *socket;
    LineHandler handler;
    QList<Step> pending;
    qint64 pendingBytes = 0;
    bool waiting = false;
    bool closing = false;
    bool discarding = false; // inside an over-long line, up to its line feed
    bool resumeQueued = false;
};

#endif
