#include "tcplinelink.h"

#include "connectionlog.h"
#include "workerwait.h"

#include <QElapsedTimer>
#include <QTcpSocket>

using WorkerWait::waitInSlices;

namespace
{
bool overLong(qint64 bytes)
{
    if (bytes <= TcpLineLink::MaxReplyBytes)
        return false;
    qCDebug(lcConnection) << "TCP reply dropped: longer than" << TcpLineLink::MaxReplyBytes
                          << "bytes";
    return true;
}
} // namespace

TcpLineLink::TcpLineLink(QTcpSocket *socket, const Timings &timings)
    : socket(socket), timings(timings)
{
}

void TcpLineLink::startLink(const QString &peer)
{
    step.reset();
    if (peer == this->peer)
        return;
    this->peer = peer;
    lineFeedSeen = false;
}

bool TcpLineLink::writeLine(const QString &text)
{
    // The line feed goes onto the encoded text, not into a copy of it.
    QByteArray line = text.toUtf8();
    line += '\n';
    if (socket->write(line) == line.size())
        return true;
    closeUnwritten();
    return false;
}

std::optional<QString> TcpLineLink::exchange(const QString &query)
{
    if (!connected())
        return std::nullopt;
    dropUnsolicited();
    if (!step.inStep() && !catchUp())
        return std::nullopt;
    const std::optional<QByteArray> line = ask(query);
    if (!line || !usable(*line))
        return std::nullopt;
    return QString::fromUtf8(line->trimmed());
}

bool TcpLineLink::catchUp()
{
    if (!send(QLatin1String(ReplyStep::MarkerQuery)))
        return false;
    QElapsedTimer clock;
    clock.start();
    if (step.catchUp([this, &clock] { return nextLine(clock); }, !lineFeedSeen))
        return true;
    qCDebug(lcConnection) << "TCP query not sent: the link is not back in step";
    return false;
}

// The reply line to `query`, untrimmed; nothing when the query gave up.
std::optional<QByteArray> TcpLineLink::ask(const QString &query)
{
    if (!send(query))
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    std::optional<QByteArray> line = nextLine(clock);
    step.ended(query, line ? std::optional<QByteArray>(line->trimmed()) : std::nullopt);
    return line;
}

bool TcpLineLink::send(const QString &query)
{
    if (!writeLine(query))
        return false;
    if (waitWritten())
        return true;
    if (connected()) {
        qCDebug(lcConnection) << "TCP link closed: a query was not written within"
                              << timings.writeWaitMs << "ms";
        closeUnwritten();
    }
    return false;
}

void TcpLineLink::dropUnsolicited()
{
    if (!step.inStep())
        return;
    // Bytes here while no query is owed answer nothing the link asked; the
    // poll also notices a link the instrument has closed meanwhile.
    QByteArray stale = socket->readAll();
    if (socket->waitForReadyRead(0))
        stale += socket->readAll();
    if (stale.isEmpty())
        return;
    if (stale.contains('\n'))
        lineFeedSeen = true;
    // The rest of a cut line is yet to come.
    if (lineFeedSeen && !stale.endsWith('\n'))
        step.lose();
}

void TcpLineLink::closeUnwritten()
{
    // The socket cannot take back what it holds: it would go out later, or
    // in front of the next line as one garbled command.
    socket->abort();
}

bool TcpLineLink::waitWritten()
{
    // A short line normally goes straight out; only a full send buffer waits.
    socket->flush();
    waitInSlices(timings.writeWaitMs, [this](int slice) {
        if (socket->bytesToWrite() > 0)
            socket->waitForBytesWritten(slice);
        return socket->bytesToWrite() == 0 || !connected();
    });
    return socket->bytesToWrite() == 0 && connected();
}

// The next line, without its line feed; from an instrument that has never
// sent a line feed, what came before it fell silent. Nothing when no whole
// line came in time or the link ended first.
std::optional<QByteArray> TcpLineLink::nextLine(const QElapsedTimer &clock)
{
    for (;;) {
        if (socket->canReadLine()) {
            lineFeedSeen = true;
            QByteArray line = socket->readLine();
            line.chop(1);
            return line;
        }
        const qint64 buffered = socket->bytesAvailable();
        if (overLong(buffered)) {
            // Its rest, when it comes, ends a line that answers nothing.
            socket->readAll();
            return std::nullopt;
        }
        const bool endsBySilence = !lineFeedSeen && buffered > 0;
        // A reply framed by silence keeps its whole quiet gap, past the
        // deadline too: a shorter one would take its first part for all of it.
        waitInSlices(endsBySilence ? timings.quietGapMs
                                   : timings.replyWaitMs - int(clock.elapsed()),
                     [this](int slice) { return socket->waitForReadyRead(slice) || !connected(); });
        // What arrived before the link ended still counts; a reply still
        // coming after the deadline is given up, not cut.
        if (socket->bytesAvailable() > buffered) {
            if (endsBySilence && clock.elapsed() > timings.replyWaitMs) {
                qCDebug(lcConnection)
                    << "TCP reply given up: still coming after" << timings.replyWaitMs << "ms";
                return std::nullopt;
            }
            continue;
        }
        if (workerStopRequested())
            return std::nullopt;
        if (!connected()) {
            if (buffered > 0)
                qCDebug(lcConnection) << "TCP reply dropped: the link ended before its line feed";
            return std::nullopt;
        }
        if (endsBySilence)
            return socket->readAll();
        if (buffered > 0)
            qCDebug(lcConnection) << "TCP reply dropped: no line feed within" << timings.replyWaitMs
                                  << "ms";
        return std::nullopt;
    }
}

bool TcpLineLink::usable(const QByteArray &line) const
{
    // Decoding would silently stop at the NUL and leave a shortened reply.
    if (line.contains('\0')) {
        qCDebug(lcConnection) << "TCP reply dropped: it holds a NUL byte";
        return false;
    }
    return !overLong(line.size());
}

bool TcpLineLink::connected() const
{
    return socket->state() == QAbstractSocket::ConnectedState;
}
