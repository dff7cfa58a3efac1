#include "tcplinelink.h"

#include "connectionlog.h"
#include "workerwait.h"

#include <QElapsedTimer>
#include <QTcpSocket>

using WorkerWait::waitInSlices;

TcpLineLink::TcpLineLink(QTcpSocket *socket, const Timings &timings)
    : socket(socket), timings(timings)
{
}

void TcpLineLink::startLink(const QString &peer)
{
    replyOwed = false;
    if (peer == this->peer)
        return;
    this->peer = peer;
    lineFeedSeen = false;
}

bool TcpLineLink::writeLine(const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    return socket->write(line) == line.size();
}

// Replies come back in the order of their queries but do not say which query
// they answer, so the line of a query that gave up, arriving later, would be
// taken for the next query's reply; the next complete line is dropped
// instead. At most one line is owed: when a query drops an owed line and then
// gets nothing, the query that gave up may have been one the instrument never
// answers, and the dropped line this query's own reply. Counting every query
// that gave up would then drop every later reply in turn; this way such a
// query costs the next one its reply and no more. Two late replies in a row
// can still put one in the next query's place, so callers check each
// reply's shape as well.
std::optional<QString> TcpLineLink::exchange(const QString &query)
{
    forgetStaleBytes();
    if (!connected() || !writeLine(query) || !waitWritten())
        return std::nullopt;
    QElapsedTimer clock;
    clock.start();
    bool droppedOwed = false;
    while (const std::optional<QByteArray> line = nextLine(clock)) {
        if (replyOwed) {
            qCDebug(lcConnection) << "TCP reply dropped: it answers an earlier query";
            replyOwed = false;
            droppedOwed = true;
            continue;
        }
        if (!usable(*line))
            return std::nullopt;
        return QString::fromUtf8(line->trimmed());
    }
    if (!droppedOwed)
        replyOwed = true;
    return std::nullopt;
}

void TcpLineLink::forgetStaleBytes()
{
    // Bytes still here arrived after their query gave up; they must not be
    // taken for this query's reply. The poll also notices a link the
    // instrument has closed meanwhile.
    QByteArray stale = socket->readAll();
    if (socket->waitForReadyRead(0))
        stale += socket->readAll();
    if (stale.isEmpty())
        return;
    // A late reply still shows how this instrument ends its replies.
    if (stale.contains('\n'))
        lineFeedSeen = true;
    // The owed line is gone, unless it was cut and its rest is yet to come.
    replyOwed = lineFeedSeen && !stale.endsWith('\n');
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
        if (buffered >= MaxReplyBytes) {
            qCDebug(lcConnection) << "TCP reply dropped: longer than" << MaxReplyBytes << "bytes";
            return std::nullopt;
        }
        const bool endsBySilence = !lineFeedSeen && buffered > 0;
        const int left = timings.replyWaitMs - int(clock.elapsed());
        waitInSlices(endsBySilence ? qMin(left, timings.quietGapMs) : left,
                     [this](int slice) { return socket->waitForReadyRead(slice) || !connected(); });
        // What arrived before the link ended still counts.
        if (socket->bytesAvailable() > buffered)
            continue;
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
    return true;
}

bool TcpLineLink::connected() const
{
    return socket->state() == QAbstractSocket::ConnectedState;
}
