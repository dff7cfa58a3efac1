#include "simconnection.h"

#include <QTcpSocket>
#include <QTimer>

namespace
{

// No command of the instrument comes near this; a client that never sends a
// line feed must not make the buffer grow without bound.
constexpr int maxLineLength = 64 * 1024;

// Such a line is dropped whether it arrives in one read or in many, so what
// the instrument executes never depends on how TCP cut the stream.
void warnOverlong()
{
    qWarning("kxsim: dropping an over-long line of more than %d bytes", maxLineLength);
}

} // namespace

SimConnection::SimConnection(QTcpSocket *socket, LineHandler handler, QObject *parent)
    : QObject(parent), socket(socket), handler(std::move(handler))
{
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &SimConnection::readLines);
    connect(socket, &QTcpSocket::disconnected, this, [this] { emit finished(this); });
    readLines();
}

void SimConnection::readLines()
{
    if (closing) {
        socket->readAll();
        return;
    }
    input += socket->readAll();
    int end;
    while (!closing && (end = input.indexOf('\n')) >= 0) {
        QByteArray line = input.left(end);
        input.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (discarding)
            discarding = false;
        else if (line.size() > maxLineLength)
            warnOverlong();
        else
            pending += handler(line);
        pump();
    }
    if (input.size() > maxLineLength) {
        warnOverlong();
        input.clear();
        discarding = true;
    }
}

void SimConnection::pump()
{
    while (!waiting && !pending.isEmpty()) {
        const Step step = pending.takeFirst();
        if (step.delayMs <= 0) {
            perform(step);
            continue;
        }
        waiting = true;
        QTimer::singleShot(step.delayMs, this, [this, step] {
            waiting = false;
            perform(step);
            pump();
        });
    }
}

void SimConnection::perform(const Step &step)
{
    if (closing)
        return;
    if (step.close) {
        closing = true;
        pending.clear();
        socket->disconnectFromHost();
        return;
    }
    // Out at once rather than on the next write notification: a client that
    // shuts down its sending side after its last query (as `nc -N` does) makes
    // the socket close on that end-of-file, dropping anything still buffered.
    socket->write(step.data);
    socket->flush();
}
