#ifndef RPCWIRE_H
#define RPCWIRE_H

#include <QByteArray>
#include <rpc/rpc.h>

class QIODevice;

// ONC RPC over TCP carries each message as a record: fragments, each behind
// a four-byte mark whose high bit flags the last one and whose other bits
// give its length.
class RpcRecordReader
{
public:
    // A record longer than `maxRecord` bytes is refused rather than buffered.
    explicit RpcRecordReader(int maxRecord) : maxRecord(maxRecord) {}

    enum Result { Incomplete, Complete, TooLarge };
    // Reads no further than the end of the record under way, so the next
    // call stays in `in` until the caller is ready for it.
    Result read(QIODevice *in, QByteArray *record);

private:
    const int maxRecord;
    QByteArray partial;
    qint64 fragmentLeft = -1; // -1: the next mark is due
    bool lastFragment = false;
};

// `message` as one record of one fragment.
QByteArray rpcRecord(const QByteArray &message);

// Reads XDR items off a message through libtirpc; every read fails past the
// end, and a failed read leaves the reader failed.
class XdrReader
{
public:
    explicit XdrReader(const QByteArray &data);
    ~XdrReader();
    XdrReader(const XdrReader &) = delete;
    XdrReader &operator=(const XdrReader &) = delete;

    quint32 u32();
    qint32 i32() { return qint32(u32()); }
    // Variable-length opaque data or string of at most `max` bytes.
    QByteArray bytes(quint32 max);
    bool ok() const { return good; }
    XDR *xdr() { return &x; }
    QByteArray rest();

private:
    QByteArray buffer;
    XDR x;
    bool good = true;
};

// Writes XDR items; the result grows as needed.
class XdrWriter
{
public:
    XdrWriter &u32(quint32 v);
    XdrWriter &i32(qint32 v) { return u32(quint32(v)); }
    XdrWriter &bytes(const QByteArray &data);
    QByteArray data() const { return out; }

private:
    QByteArray out;
};

struct RpcCall {
    quint32 xid = 0;
    quint32 program = 0;
    quint32 version = 0;
    quint32 procedure = 0;
    QByteArray arguments;
};

// False for anything but a well-formed RPC version 2 call.
bool parseRpcCall(const QByteArray &message, RpcCall *call);
// An accepted reply: `results` follow a SUCCESS; PROG_MISMATCH carries the
// supported version range [low, high].
QByteArray rpcReply(quint32 xid, accept_stat status, const QByteArray &results = {},
                    quint32 low = 0, quint32 high = 0);

#endif
