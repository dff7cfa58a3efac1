#include "simulatedusbtmcdevice.h"

#include <QtEndian>

namespace
{

constexpr int headerSize = 12;

quint8 byteAt(const QByteArray &frame, int index)
{
    return quint8(frame.at(index));
}

quint32 transferSizeOf(const QByteArray &frame)
{
    return qFromLittleEndian<quint32>(frame.constData() + 4);
}

} // namespace

SimulatedUsbTmcDevice::SimulatedUsbTmcDevice(const InstrumentModel::Config &config)
    : instrument(config)
{
    clock.start();
}

void SimulatedUsbTmcDevice::attach()
{
    open = true;
    lastTag.reset();
}

void SimulatedUsbTmcDevice::detach()
{
    open = false;
}

void SimulatedUsbTmcDevice::clearRecords()
{
    sent.clear();
    answered.clear();
    executed.clear();
    breaches.clear();
    times.clear();
}

void SimulatedUsbTmcDevice::violation(const QString &what)
{
    breaches << QStringLiteral("frame %1: %2").arg(sent.size() - 1).arg(what);
}

void SimulatedUsbTmcDevice::bulkOut(const QByteArray &frame)
{
    times << clock.nsecsElapsed();
    sent << frame;
    if (frame.size() < headerSize) {
        violation(QStringLiteral("%1 bytes, shorter than a header").arg(frame.size()));
        return;
    }
    const quint8 msgId = byteAt(frame, 0);
    const quint8 tag = byteAt(frame, 1);
    if (tag == 0)
        violation(QStringLiteral("bTag 0"));
    if (byteAt(frame, 2) != quint8(~tag))
        violation(QStringLiteral("bTagInverse %1 for bTag %2").arg(byteAt(frame, 2)).arg(tag));
    if (byteAt(frame, 3) != 0)
        violation(QStringLiteral("reserved byte 3 is %1").arg(byteAt(frame, 3)));
    if (lastTag && *lastTag == tag)
        violation(QStringLiteral("bTag %1 repeated").arg(tag));
    lastTag = tag;

    const quint32 size = transferSizeOf(frame);
    if (msgId == 1)
        command(frame, size);
    else if (msgId == 2)
        readRequest(frame, tag, size);
    else
        violation(QStringLiteral("unknown MsgID %1").arg(msgId));
}

void SimulatedUsbTmcDevice::command(const QByteArray &frame, quint32 size)
{
    const quint32 room = quint32(frame.size() - headerSize);
    if (frame.size() % 4 != 0)
        violation(QStringLiteral("%1 bytes, not a multiple of 4").arg(frame.size()));
    if (byteAt(frame, 8) != 1)
        violation(QStringLiteral("bmTransferAttributes %1, EOM expected").arg(byteAt(frame, 8)));
    if (byteAt(frame, 9) || byteAt(frame, 10) || byteAt(frame, 11))
        violation(QStringLiteral("reserved bytes 9 to 11 not zero"));
    if (size == 0)
        violation(QStringLiteral("TransferSize 0"));
    if (size > room) {
        violation(QStringLiteral("TransferSize %1 beyond the %2 bytes sent").arg(size).arg(room));
        return;
    }
    if (room - size > 3)
        violation(QStringLiteral("%1 bytes behind the payload").arg(room - size));
    for (int i = headerSize + int(size); i < frame.size(); ++i) {
        if (frame.at(i) != 0) {
            violation(QStringLiteral("alignment byte %1 not zero").arg(i));
            break;
        }
    }

    const QByteArray payload = frame.mid(headerSize, int(size));
    executed << payload;
    // A new command discards a reply the host never collected, as the
    // instrument's output queue does.
    pendingIn.reset();
    pendingReply = instrument.execute(payload);
    if (pendingReply && lineFeed)
        pendingReply->append('\n');
}

void SimulatedUsbTmcDevice::readRequest(const QByteArray &frame, quint8 tag, quint32 size)
{
    if (frame.size() != headerSize)
        violation(QStringLiteral("read request of %1 bytes").arg(frame.size()));
    if (size == 0)
        violation(QStringLiteral("read request for 0 bytes"));
    if (byteAt(frame, 8) != 0)
        violation(
            QStringLiteral("bmTransferAttributes %1, TermChar unsupported").arg(byteAt(frame, 8)));
    if (byteAt(frame, 9) || byteAt(frame, 10) || byteAt(frame, 11))
        violation(QStringLiteral("reserved bytes 9 to 11 not zero"));
    pendingIn.reset();
    if (!pendingReply)
        return;
    const bool late = replyFault == ReplyFault::Late;
    (late ? heldIn : pendingIn) = replyFrame(tag, size);
}

QByteArray SimulatedUsbTmcDevice::replyFrame(quint8 tag, quint32 requested)
{
    QByteArray &reply = *pendingReply;
    QByteArray payload;
    if (replyFault == ReplyFault::SizeBeyondRequest) {
        const int oversize = int(requested) + 1;
        payload = reply.left(oversize).leftJustified(oversize, '#');
    } else {
        payload = reply.left(int(qMin<quint32>(requested, quint32(reply.size()))));
    }
    const bool last = payload.size() >= reply.size();
    if (last)
        pendingReply.reset();
    else
        reply.remove(0, payload.size());

    QByteArray frame(headerSize, '\0');
    frame[0] = 2;
    frame[1] = char(tag);
    frame[2] = char(~tag);
    quint32 size = quint32(payload.size());
    frame[8] = last ? 1 : 0;
    frame += payload;
    frame += QByteArray((4 - frame.size() % 4) % 4, '\0');

    switch (replyFault) {
    case ReplyFault::None:
    case ReplyFault::SizeBeyondRequest:
    case ReplyFault::Late:
        break;
    case ReplyFault::WrongMsgId:
        frame[0] = 1;
        break;
    case ReplyFault::WrongTag: {
        const quint8 other = tag == 255 ? 1 : tag + 1;
        frame[1] = char(other);
        frame[2] = char(~other);
        break;
    }
    case ReplyFault::BadComplement:
        frame[2] = char(quint8(~tag) ^ 0x01);
        break;
    case ReplyFault::ShortFrame:
        frame.truncate(8);
        break;
    case ReplyFault::SizeBeyondData:
        size += 8;
        break;
    case ReplyFault::HugeSize:
        size = 0xFFFFFFF8u;
        break;
    }
    if (frame.size() >= 8)
        qToLittleEndian<quint32>(size, frame.data() + 4);
    replyFault = ReplyFault::None;
    return frame;
}

std::optional<QByteArray> SimulatedUsbTmcDevice::bulkIn()
{
    times << clock.nsecsElapsed();
    // A reply already on the endpoint goes out before anything asked for
    // later; a new command cannot take it back.
    std::optional<QByteArray> &next = lateIn ? lateIn : pendingIn;
    std::optional<QByteArray> transfer = next;
    next.reset();
    if (heldIn) {
        lateIn = heldIn;
        heldIn.reset();
    }
    if (transfer)
        answered << *transfer;
    return transfer;
}
