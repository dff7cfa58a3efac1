#include "vxi11session.h"

#include "requesttext.h"
#include "servelog.h"
#include "vxi11links.h"

#include <QHash>
#include <QPointer>
#include <QTcpSocket>
#include <optional>

namespace
{
enum Procedure : quint32 {
    Null = 0,
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceClear = 15,
    DeviceDoCmd = 22,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DestroyLink = 23,
    LastProcedure = 26,
};

enum Error : qint32 {
    NoError = 0,
    InvalidLink = 4,
    NotSupported = 8,
    OutOfResources = 9,
    LockedByOther = 11,
    NoLockHeld = 12,
    IoTimeout = 15,
    IoError = 17,
};

enum Flag : qint32 { WaitLock = 0x01, End = 0x08, TermCharSet = 0x80 };
enum Reason : qint32 { RequestCount = 1, TermChar = 2, EndReached = 4 };

// The status byte's "message available" bit.
const quint32 MessageAvailable = 0x10;

QByteArray error(qint32 code)
{
    return XdrWriter().i32(code).data();
}

// A procedure's results as clients decode them even after an error: the
// error code, then its other fields, zero when there is nothing to say.
QByteArray complete(quint32 procedure, const QByteArray &results)
{
    int words = 1;
    switch (procedure) {
    case Null:
        words = 0;
        break;
    case CreateLink:
        words = 4;
        break;
    case DeviceRead: // the reason, and data of length 0
        words = 3;
        break;
    case DeviceWrite:
    case DeviceReadStb:
    case DeviceDoCmd:
        words = 2;
        break;
    }
    return results + QByteArray(qMax(0, 4 * words - results.size()), '\0');
}

int boundedMs(quint32 ms)
{
    return int(qMin(ms, Vxi11Session::MaxTimeoutMs));
}

// The link id of the parameters that device_readstb and device_clear share;
// their flags and timeouts do not matter to calls answered at once.
std::optional<qint32> linkOfGenericParms(XdrReader &in)
{
    const qint32 id = in.i32();
    in.i32(); // flags
    in.u32(); // lock_timeout
    in.u32(); // io_timeout
    if (!in.ok())
        return std::nullopt;
    return id;
}

// The requests in a message, one a line, as the raw socket takes them.
QStringList requestLines(const QByteArray &message)
{
    QStringList lines;
    for (const QByteArray &line : message.split('\n')) {
        const QString text = RequestText::ofLine(line);
        if (!text.isEmpty())
            lines += text;
    }
    return lines;
}
} // namespace

Vxi11Session::Vxi11Session(QTcpSocket *socket, Vxi11Links *links)
    : socket(socket), links(links), peer(endpointName(socket->peerAddress(), socket->peerPort())),
      reader(int(MaxRecvSize) + 1024)
{
    socket->setParent(this);
    // Calls are read one at a time; calls a client sends ahead stay in the
    // system's buffers instead of piling up here.
    socket->setReadBufferSize(MaxRecvSize + 1024);
    // Each reply goes out whole in one write; waiting to fill a segment
    // would only delay it.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    deadline.setSingleShot(true);
    connect(socket, &QTcpSocket::readyRead, this, &Vxi11Session::readCalls);
    connect(socket, &QTcpSocket::bytesWritten, this, &Vxi11Session::readCalls);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    readCalls();
}

Vxi11Session::~Vxi11Session()
{
    links->destroyOwnedBy(this);
}

void Vxi11Session::readCalls()
{
    while (!busy && socket->bytesToWrite() <= MaxUnsentOutput) {
        QByteArray message;
        const RpcRecordReader::Result r = reader.read(socket, &message);
        if (r == RpcRecordReader::Incomplete)
            return;
        RpcCall call;
        if (r == RpcRecordReader::TooLarge || !parseRpcCall(message, &call)) {
            // Nothing more on this connection can be framed or trusted.
            socket->abort();
            deleteLater();
            return;
        }
        dispatch(call);
    }
}

void Vxi11Session::dispatch(const RpcCall &call)
{
    busy = true;
    ++callCount;
    xid = call.xid;
    procedure = call.procedure;
    if (call.program != Program)
        return send(rpcReply(xid, PROG_UNAVAIL));
    if (call.version != Version)
        return send(rpcReply(xid, PROG_MISMATCH, {}, Version, Version));
    using Handler = Results (Vxi11Session::*)(XdrReader &);
    static const QHash<quint32, Handler> handlers = {
        {CreateLink, &Vxi11Session::createLink},     {DeviceWrite, &Vxi11Session::deviceWrite},
        {DeviceRead, &Vxi11Session::deviceRead},     {DeviceReadStb, &Vxi11Session::readStatusByte},
        {DeviceClear, &Vxi11Session::deviceClear},   {DeviceLock, &Vxi11Session::deviceLock},
        {DeviceUnlock, &Vxi11Session::deviceUnlock}, {DestroyLink, &Vxi11Session::destroyLink},
    };
    XdrReader in(call.arguments);
    Results results = error(NotSupported);
    if (call.procedure == Null)
        results = QByteArray();
    else if (const Handler handler = handlers.value(call.procedure))
        results = (this->*handler)(in);
    else if (call.procedure > LastProcedure)
        return send(rpcReply(xid, PROC_UNAVAIL));
    if (!in.ok())
        send(rpcReply(xid, GARBAGE_ARGS));
    else if (results)
        answer(callCount, *results);
}

void Vxi11Session::send(const QByteArray &message)
{
    deadline.stop();
    socket->write(rpcRecord(message));
    busy = false;
    // The next call may be waiting in the socket already; one still to come
    // announces itself with readyRead.
    if (socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Vxi11Session::readCalls, Qt::QueuedConnection);
}

void Vxi11Session::answer(quint64 call, const QByteArray &results)
{
    if (busy && call == callCount)
        send(rpcReply(xid, SUCCESS, complete(procedure, results)));
}

std::function<void(const QByteArray &)> Vxi11Session::later()
{
    QPointer<Vxi11Session> self(this);
    const quint64 call = callCount;
    return [self, call](const QByteArray &results) {
        if (self)
            self->answer(call, results);
    };
}

void Vxi11Session::answerAfter(int ms, const std::function<QByteArray()> &results)
{
    deadline.disconnect();
    connect(&deadline, &QTimer::timeout, this, [results, reply = later()] { reply(results()); });
    deadline.start(ms);
}

Vxi11Link *Vxi11Session::link(qint32 id)
{
    Vxi11Link *l = links->find(id);
    return l && l->owner == this ? l : nullptr;
}

Vxi11Session::Results Vxi11Session::createLink(XdrReader &in)
{
    in.i32(); // the client's own id, which nothing here needs
    const bool lockDevice = in.u32();
    const int lockMs = boundedMs(in.u32());
    in.bytes(256); // the device name: the instrument is the only device
    if (!in.ok())
        return {};
    const qint32 id = links->create(peer, this);
    const auto created = [id](qint32 code) {
        return code ? error(code) : XdrWriter().i32(code).i32(id).u32(0).u32(MaxRecvSize).data();
    };
    if (!id)
        return created(OutOfResources);
    if (!lockDevice)
        return created(NoError);
    const auto reply = later();
    Vxi11Links *all = links;
    all->shared->lock(all->find(id)->client, lockMs, [all, id, reply, created](bool granted) {
        if (!granted)
            all->destroy(id);
        reply(created(granted ? NoError : LockedByOther));
    });
    return {};
}

Vxi11Session::Results Vxi11Session::deviceWrite(XdrReader &in)
{
    const qint32 id = in.i32();
    const int ioMs = boundedMs(in.u32());
    const int lockMs = boundedMs(in.u32());
    const qint32 flags = in.i32();
    const QByteArray data = in.bytes(MaxRecvSize);
    if (!in.ok())
        return {};
    Vxi11Link *l = link(id);
    if (!l)
        return error(InvalidLink);
    if (!links->shared->linkUp())
        return error(IoError);
    l->written += data;
    const QByteArray written = XdrWriter().i32(NoError).u32(quint32(data.size())).data();
    if (!(flags & End)) {
        if (l->written.size() <= int(MaxRecvSize))
            return written;
        l->written.clear();
        return error(OutOfResources);
    }
    const QStringList lines = requestLines(l->written);
    l->written.clear();
    const bool locked = links->shared->lockedByOther(l->client);
    if (locked && !(flags & WaitLock))
        return error(LockedByOther);
    // A new request makes replies still unread stale.
    l->unread.clear();
    if (lines.isEmpty())
        return written;
    SharedLink *shared = links->shared;
    const SharedLink::ClientId client = l->client;
    answerAfter(ioMs + (locked ? lockMs : 0), [shared, client] {
        shared->clear(client);
        return error(shared->lockedByOther(client) ? LockedByOther : IoTimeout);
    });
    writeLines(id, lines, written);
    return {};
}

// The lines of one write go to the shared link one after another, each a
// request of its own; the first that fails ends the write, and the rest are
// not sent. A line is submitted only once the one before has ended, so one
// link never has more than one request waiting.
void Vxi11Session::writeLines(qint32 id, QStringList lines, const QByteArray &written)
{
    const QString line = lines.takeFirst();
    const quint64 call = callCount;
    // Called only while the link exists: destroying it removes its client,
    // so no outcome comes after this session is gone.
    links->shared->submit(link(id)->client, line,
                          [this, call, id, lines, written](const SharedLink::Outcome &outcome) {
                              lineEnded(call, id, lines, written, outcome);
                          });
}

void Vxi11Session::lineEnded(quint64 call, qint32 id, const QStringList &rest,
                             const QByteArray &written, const SharedLink::Outcome &outcome)
{
    Vxi11Link *l = link(id);
    // The write was answered already, when its time ran out.
    if (!busy || call != callCount || !l)
        return;
    switch (outcome.status) {
    case SharedLink::Outcome::Replied: {
        const QByteArray reply = outcome.reply.toUtf8() + '\n';
        if (l->unread.size() + reply.size() > MaxUnreadBytes)
            return answer(call, error(OutOfResources));
        l->unread += reply;
        break;
    }
    case SharedLink::Outcome::Sent:
        break;
    case SharedLink::Outcome::NoReply:
        return answer(call, error(IoTimeout));
    case SharedLink::Outcome::LinkDown:
        return answer(call, error(IoError));
    case SharedLink::Outcome::Refused:
        return answer(call, error(NotSupported));
    }
    if (rest.isEmpty())
        return answer(call, written);
    writeLines(id, rest, written);
}

Vxi11Session::Results Vxi11Session::deviceRead(XdrReader &in)
{
    const qint32 id = in.i32();
    const quint32 requestSize = in.u32();
    in.u32(); // io_timeout: the reply is here already or nothing will come
    in.u32(); // lock_timeout: reading what the link holds needs no lock
    const qint32 flags = in.i32();
    const char termChar = char(in.i32());
    if (!in.ok())
        return {};
    Vxi11Link *l = link(id);
    if (!l)
        return error(InvalidLink);
    if (l->unread.isEmpty())
        return error(links->shared->linkUp() ? IoTimeout : IoError);
    int size = int(qMin(requestSize, quint32(l->unread.size())));
    qint32 reason = 0;
    const int term = (flags & TermCharSet) ? l->unread.left(size).indexOf(termChar) : -1;
    if (term >= 0) {
        size = term + 1;
        reason |= TermChar;
    }
    if (size == l->unread.size())
        reason |= EndReached;
    else if (!reason)
        reason = RequestCount;
    const QByteArray part = l->unread.left(size);
    l->unread.remove(0, size);
    return XdrWriter().i32(NoError).i32(reason).bytes(part).data();
}

Vxi11Session::Results Vxi11Session::readStatusByte(XdrReader &in)
{
    const std::optional<qint32> id = linkOfGenericParms(in);
    if (!id)
        return {};
    const Vxi11Link *l = link(*id);
    if (!l)
        return error(InvalidLink);
    if (!links->shared->linkUp())
        return error(IoError);
    // The instrument has no status byte of its own; the server reports
    // whether a reply waits to be read.
    return XdrWriter().i32(NoError).u32(l->unread.isEmpty() ? 0 : MessageAvailable).data();
}

Vxi11Session::Results Vxi11Session::deviceClear(XdrReader &in)
{
    const std::optional<qint32> id = linkOfGenericParms(in);
    if (!id)
        return {};
    Vxi11Link *l = link(*id);
    if (!l)
        return error(InvalidLink);
    links->shared->clear(l->client);
    l->written.clear();
    l->unread.clear();
    return error(NoError);
}

Vxi11Session::Results Vxi11Session::deviceLock(XdrReader &in)
{
    const qint32 id = in.i32();
    const qint32 flags = in.i32();
    const int lockMs = boundedMs(in.u32());
    if (!in.ok())
        return {};
    const Vxi11Link *l = link(id);
    if (!l)
        return error(InvalidLink);
    const auto reply = later();
    links->shared->lock(l->client, (flags & WaitLock) ? lockMs : 0,
                        [reply](bool granted) { reply(error(granted ? NoError : LockedByOther)); });
    return {};
}

Vxi11Session::Results Vxi11Session::deviceUnlock(XdrReader &in)
{
    const Vxi11Link *l = link(in.i32());
    if (!in.ok())
        return {};
    if (!l)
        return error(InvalidLink);
    return error(links->shared->unlock(l->client) ? NoError : NoLockHeld);
}

Vxi11Session::Results Vxi11Session::destroyLink(XdrReader &in)
{
    const qint32 id = in.i32();
    if (!in.ok())
        return {};
    if (!link(id))
        return error(InvalidLink);
    links->destroy(id);
    return error(NoError);
}
