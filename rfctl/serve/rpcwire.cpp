#include "rpcwire.h"

#include <QIODevice>
#include <QtEndian>

namespace
{
const quint32 LastFragment = 0x80000000u;
}

RpcRecordReader::Result RpcRecordReader::read(QIODevice *in, QByteArray *record)
{
    for (;;) {
        if (fragmentLeft < 0) {
            uchar mark[4];
            if (in->bytesAvailable() < 4 || in->read(reinterpret_cast<char *>(mark), 4) != 4)
                return Incomplete;
            const quint32 word = qFromBigEndian<quint32>(mark);
            lastFragment = word & LastFragment;
            fragmentLeft = word & ~LastFragment;
            if (partial.size() + fragmentLeft > maxRecord)
                return TooLarge;
        }
        const QByteArray chunk = in->read(fragmentLeft);
        partial += chunk;
        fragmentLeft -= chunk.size();
        if (fragmentLeft > 0)
            return Incomplete;
        fragmentLeft = -1;
        if (lastFragment) {
            *record = partial;
            partial.clear();
            return Complete;
        }
    }
}

QByteArray rpcRecord(const QByteArray &message)
{
    uchar mark[4];
    qToBigEndian<quint32>(LastFragment | quint32(message.size()), mark);
    return QByteArray(reinterpret_cast<const char *>(mark), 4) + message;
}

XdrReader::XdrReader(const QByteArray &data) : buffer(data)
{
    xdrmem_create(&x, buffer.data(), u_int(buffer.size()), XDR_DECODE);
}

XdrReader::~XdrReader()
{
    xdr_destroy(&x);
}

quint32 XdrReader::u32()
{
    u_int32_t v = 0;
    good = good && xdr_u_int32_t(&x, &v);
    return good ? v : 0;
}

QByteArray XdrReader::bytes(quint32 max)
{
    const quint32 length = u32();
    // Checked before the copy, so a forged length cannot make it allocate.
    if (!good || length > max || length > quint32(buffer.size()) - xdr_getpos(&x)) {
        good = false;
        return {};
    }
    QByteArray data(int(length), Qt::Uninitialized);
    good = xdr_opaque(&x, data.data(), length);
    return good ? data : QByteArray();
}

QByteArray XdrReader::rest()
{
    return buffer.mid(int(xdr_getpos(&x)));
}

XdrWriter &XdrWriter::u32(quint32 v)
{
    uchar word[4];
    qToBigEndian(v, word);
    out.append(reinterpret_cast<const char *>(word), 4);
    return *this;
}

XdrWriter &XdrWriter::bytes(const QByteArray &data)
{
    u32(quint32(data.size()));
    out += data;
    // XDR pads opaque data to a multiple of four bytes.
    out.append((4 - data.size() % 4) % 4, '\0');
    return *this;
}

bool parseRpcCall(const QByteArray &message, RpcCall *call)
{
    XdrReader reader(message);
    char credentials[MAX_AUTH_BYTES];
    char verifier[MAX_AUTH_BYTES];
    rpc_msg msg = {};
    msg.rm_call.cb_cred.oa_base = credentials;
    msg.rm_call.cb_verf.oa_base = verifier;
    if (!xdr_callmsg(reader.xdr(), &msg) || msg.rm_direction != CALL ||
        msg.rm_call.cb_rpcvers != RPC_MSG_VERSION)
        return false;
    call->xid = quint32(msg.rm_xid);
    call->program = quint32(msg.rm_call.cb_prog);
    call->version = quint32(msg.rm_call.cb_vers);
    call->procedure = quint32(msg.rm_call.cb_proc);
    call->arguments = reader.rest();
    return true;
}

QByteArray rpcReply(quint32 xid, accept_stat status, const QByteArray &results, quint32 low,
                    quint32 high)
{
    XdrWriter header;
    // Accepted reply with an empty AUTH_NONE verifier.
    header.u32(xid).u32(REPLY).u32(MSG_ACCEPTED).u32(AUTH_NONE).u32(0).u32(status);
    if (status == PROG_MISMATCH)
        header.u32(low).u32(high);
    return header.data() + (status == SUCCESS ? results : QByteArray());
}
