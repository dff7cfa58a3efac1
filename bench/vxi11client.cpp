#include "vxi11client.h"

#include <QHostAddress>

namespace
{
const int WaitMs = 5000;
const quint32 MaxSize = 1024 * 1024;
const quint32 EndFlag = 0x08;
const qint32 EndReason = 0x04;
enum Procedure : quint32 { CreateLink = 10, DeviceWrite = 11, DeviceRead = 12 };
} // namespace

bool Vxi11Client::open(quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!socket.waitForConnected(WaitMs))
        return false;
    const auto results = call(CreateLink, XdrWriter().i32(0).u32(0).u32(0).bytes("inst0").data());
    if (!results || results->i32() != 0)
        return false;
    link = results->i32();
    return results->ok();
}

bool Vxi11Client::query(const QByteArray &text)
{
    const auto written =
        call(DeviceWrite, XdrWriter().i32(link).u32(WaitMs).u32(0).u32(EndFlag).bytes(text).data());
    if (!written || written->i32() != 0)
        return false;
    const QByteArray read =
        XdrWriter().i32(link).u32(MaxSize).u32(WaitMs).u32(0).u32(0).u32(0).data();
    for (qint32 reason = 0; !(reason & EndReason);) {
        const auto results = call(DeviceRead, read);
        if (!results || results->i32() != 0)
            return false;
        reason = results->i32();
        results->bytes(MaxSize);
        if (!results->ok())
            return false;
    }
    return true;
}

std::unique_ptr<XdrReader> Vxi11Client::call(quint32 procedure, const QByteArray &arguments)
{
    // CALL, RPC version 2, the core channel, version 1; no credentials, no verifier.
    XdrWriter header;
    header.u32(++xid).u32(0).u32(2).u32(0x0607AF).u32(1).u32(procedure);
    header.u32(0).u32(0).u32(0).u32(0);
    socket.write(rpcRecord(header.data() + arguments));
    QByteArray record;
    for (;;) {
        const RpcRecordReader::Result r = reader.read(&socket, &record);
        if (r == RpcRecordReader::Complete)
            break;
        if (r == RpcRecordReader::TooLarge || !socket.waitForReadyRead(WaitMs))
            return nullptr;
    }
    auto results = std::make_unique<XdrReader>(record);
    // xid, REPLY, MSG_ACCEPTED, the verifier, SUCCESS
    const bool accepted = results->u32() == xid && results->u32() == 1 && results->u32() == 0;
    results->u32();
    results->bytes(400);
    if (!accepted || results->u32() != 0 || !results->ok())
        return nullptr;
    return results;
}
