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
class SimConnection : public QObject
{
    Q_OBJECT
public:
    // One piece of output: wait `delayMs`, then write `data` or close the link.
    struct Step {
        int delayMs = 0;
        QByteArray data;
        bool close = false;
    };
    using LineHandler = std::function<QList<Step>(const QByteArray &line)>;

    SimConnection(QTcpSocket *socket, LineHandler handler, QObject *parent = nullptr);

signals:
    void finished(SimConnection *connection);

private:
    void readLines();
    void pump();
    void perform(const Step &step);

    QTcpSocket *socket;
    LineHandler handler;
    QByteArray input;
    QList<Step> pending;
    bool waiting = false;
    bool closing = false;
    bool discarding = false; // inside an over-long line, up to its line feed
};

#endif
