#include "simconnection.h"

#include "simlog.h"

#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace
{

// No command of the instrument comes near this; a client that never sends a
// line feed must not make the buffer grow without bound.
constexpr int maxLineLength = 64 * 1024;
// The socket's read buffer holds a longest line with its CR LF; when it is
// full without a line feed, the line is over-long.
constexpr int lineBufferSize = maxLineLength + 2;
constexpr int kernelBufferSize = 64 * 1024;

// Such a line is dropped whether it arrives in one read or in many, so what
// the instrument executes never depends on how TCP cut the stream.
void warnOverlong()
{
    qCWarning(lcSimulator, "kxsim: dropping an over-long line of more than %d bytes",
              maxLineLength);
}

} // namespace

SimConnection::SimConnection(QTcpSocket *socket, LineHandler handler, QObject *parent)
    : QObject(parent), socket(socket), handler(std::move(handler))
{
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // What is not taken yet stays with the client, where TCP holds it back,
    // and the replies it leaves unread pile up here, where they are counted;
    // the kernel's own buffers could otherwise grow to several megabytes.
    socket->setReadBufferSize(lineBufferSize);
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kernelBufferSize);
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kernelBufferSize);
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
    int handled = 0;
    while (!closing && handled < LinesPerTurn) {
        if (socket->canReadLine()) {
            takeLine(socket->readLine());
        } else if (socket->bytesAvailable() >= lineBufferSize) {
            if (!discarding)
                warnOverlong();
            socket->readAll();
            discarding = true;
        } else {
            break;
        }
        ++handled;
    }
    if (closing)
        return;
    // Out at once rather than on the next write notification: a client that
    // shuts down its sending side after its last query (as `nc -N` does) makes
    // the socket close on that end-of-file, dropping anything still buffered.
    socket->flush();
    if (handled == LinesPerTurn && socket->bytesAvailable() > 0)
        resumeLater();
}

void SimConnection::takeLine(QByteArray line)
{
    line.chop(line.endsWith("\r\n") ? 2 : 1);
    if (discarding) {
        discarding = false;
        return;
    }
    if (line.size() > maxLineLength) {
        warnOverlong();
        return;
    }
    for (const Step &step : handler(line)) {
        pending.append(step);
        pendingBytes += step.data.size();
    }
    pump();
    if (!closing && pendingBytes + socket->bytesToWrite() > MaxUnreadOutput)
        dropUnreadClient();
}

// The rest of this client's lines wait behind every other event, so one
// client's flood never starves the others. Meanwhile the socket must not
// read on: it would take a client's end-of-file (a client that shut down its
// sending side after its last query) for a closed link and drop the replies
// still to come. A read buffer already full stops it.
void SimConnection::resumeLater()
{
    if (resumeQueued)
        return;
    resumeQueued = true;
    socket->setReadBufferSize(1);
    QMetaObject::invokeMethod(
        this,
        [this] {
            resumeQueued = false;
            socket->setReadBufferSize(lineBufferSize);
            readLines();
        },
        Qt::QueuedConnection);
}

void SimConnection::pump()
{
    while (!waiting && !pending.isEmpty()) {
        const Step step = pending.takeFirst();
        pendingBytes -= step.data.size();
        if (step.delayMs <= 0) {
            perform(step);
            continue;
        }
        waiting = true;
        QTimer::singleShot(step.delayMs, this, [this, step] {
            waiting = false;
            perform(step);
            pump();
            socket->flush();
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
        pendingBytes = 0;
        if (step.reset)
            resetLink();
        else
            socket->disconnectFromHost();
        return;
    }
    socket->write(step.data);
}

// A client that queries without reading would otherwise make the simulator
// hold its replies for ever.
void SimConnection::dropUnreadClient()
{
    qCWarning(lcSimulator,
              "kxsim: dropping a client that left more than %lld bytes of replies unread",
              MaxUnreadOutput);
    closing = true;
    pending.clear();
    pendingBytes = 0;
    socket->abort();
}

void SimConnection::resetLink()
{
    // What was written before the reset still reaches the client first.
    socket->flush();
#ifdef Q_OS_UNIX
    // Lingering for no time makes closing send a reset, not an orderly end.
    const linger abortive{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                 sizeof abortive);
#endif
    socket->abort();
}
