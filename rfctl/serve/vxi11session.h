#ifndef VXI11SESSION_H
#define VXI11SESSION_H

#include "rpcwire.h"
#include "sharedlink.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

class QTcpSocket;
class Vxi11Links;
struct Vxi11Link;

// One client's TCP connection to the VXI-11 core channel. Calls are taken
// one at a time: the next is not read before the reply to the current one
// went out, which may be later (a read waiting for the instrument, a lock
// waiting for another link), without holding up other connections. When
// the connection drops, the links it created go with it, locks included.
class Vxi11Session : public QObject
{
    Q_OBJECT
public:
    // The core channel's ONC RPC program and version, as the portmapper
    // and every call name them.
    static constexpr quint32 Program = 0x0607AF;
    static constexpr quint32 Version = 1;
    // The largest write a link takes at once, as create_link announces it.
    static constexpr quint32 MaxRecvSize = 64 * 1024;
    // Timeouts clients ask for are cut to this; "wait for ever" (all bits
    // set) included.
    static constexpr quint32 MaxTimeoutMs = 60000;
    // Replies a link keeps for device_read, from the queries of one write:
    // room for the longest reply the instrument gives, and a bound for a
    // write of thousands of queries.
    static constexpr int MaxUnreadBytes = 128 * 1024;
    // Replies a client leaves unread hold back its further calls beyond this.
    static constexpr qint64 MaxUnsentOutput = 256 * 1024;

    // Takes `socket` over; deletes itself once the peer has gone.
    Vxi11Session(QTcpSocket *socket, Vxi11Links *links);
    ~Vxi11Session() override;

private:
    using Results = std::optional<QByteArray>; // none: the reply comes later

    void readCalls();
    void dispatch(const RpcCall &call);
    void send(const QByteArray &message);
    // Answers the current call, unless it was answered already.
    void answer(quint64 call, const QByteArray &results);
    // A function answering the current call later, once.
    std::function<void(const QByteArray &)> later();
    void answerAfter(int ms, const std::function<QByteArray()> &results);
    Vxi11Link *link(qint32 id);

    Results createLink(XdrReader &in);
    Results deviceWrite(XdrReader &in);
    Results deviceRead(XdrReader &in);
    Results readStatusByte(XdrReader &in);
    Results deviceClear(XdrReader &in);
    Results deviceLock(XdrReader &in);
    Results deviceUnlock(XdrReader &in);
    Results destroyLink(XdrReader &in);
    void writeLines(qint32 id, QStringList lines, const QByteArray &written);
    void lineEnded(quint64 call, qint32 id, const QStringList &rest, const QByteArray &written,
                   const SharedLink::Outcome &outcome);

    QTcpSocket *const socket;
    Vxi11Links *const links;
    const QString peer;
    RpcRecordReader reader;
    bool busy = false;
    quint64 callCount = 0; // numbers the calls, so a late answer finds its own
    quint32 xid = 0;
    quint32 procedure = 0;
    QTimer deadline;
};

#endif
