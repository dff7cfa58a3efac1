#ifndef SIMULATEDUSBTMCDEVICE_H
#define SIMULATEDUSBTMCDEVICE_H

#include "instrumentmodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <optional>

// One instrument behind a USBTMC interface, as strict as a real device about
// what the host sends: every bulk-OUT frame is checked and each breach of the
// message format is recorded, never silently accepted. Commands go to an
// InstrumentModel; a query's reply waits until the host asks for it with
// REQUEST_DEV_DEP_MSG_IN and is then sent as DEV_DEP_MSG_IN, cut to the size
// the host asked for (the rest stays for the next request).
class SimulatedUsbTmcDevice
{
public:
    // Ways to break the next DEV_DEP_MSG_IN reply, for testing the host.
    enum class ReplyFault {
        None,
        WrongMsgId,
        WrongTag,          // another tag, with its proper complement
        BadComplement,     // the right tag, byte 2 not its complement
        ShortFrame,        // 8 bytes, less than a header
        SizeBeyondData,    // TransferSize larger than the bytes that follow
        SizeBeyondRequest, // one byte more than the host asked for
        HugeSize,          // TransferSize 0xFFFFFFF8 on a short frame
        Late               // misses the host's bulk-IN, then waits on the endpoint
    };

    // Ways to break this device's entry in an enumeration.
    enum class ListingFault { None, DetailSizeSucceeds, DetailSizeFails, DetailPathFails };

    explicit SimulatedUsbTmcDevice(const InstrumentModel::Config &config = {});

    InstrumentModel &model() { return instrument; }

    // Replies end in a line feed, as the instrument sends them over USB.
    void setLineFeed(bool on) { lineFeed = on; }
    void setReplyFault(ReplyFault fault) { replyFault = fault; }
    void setListingFault(ListingFault fault) { listingFault = fault; }
    ListingFault listing() const { return listingFault; }
    // A non-zero code makes opening the device fail with it.
    void setOpenError(long code) { openError = code; }
    long openFailure() const { return openError; }

    void attach();
    void detach();
    bool isOpen() const { return open; }

    // Host to device: one bulk-OUT transfer.
    void bulkOut(const QByteArray &frame);
    // Device to host: the waiting bulk-IN transfer, if any; without one a
    // real device keeps NAKing and the host's read times out.
    std::optional<QByteArray> bulkIn();

    // Monotonic time in nanoseconds of every bulk-OUT and bulk-IN transfer,
    // answered or not, in order.
    const QList<qint64> &transferTimes() const { return times; }
    const QList<QByteArray> &outFrames() const { return sent; }
    const QList<QByteArray> &inFrames() const { return answered; }
    // Command payloads as the device executed them.
    const QList<QByteArray> &commands() const { return executed; }
    const QStringList &violations() const { return breaches; }
    void clearRecords();

private:
    void violation(const QString &what);
    void command(const QByteArray &frame, quint32 size);
    void readRequest(const QByteArray &frame, quint8 tag, quint32 size);
    QByteArray replyFrame(quint8 tag, quint32 requested);

    InstrumentModel instrument;
    bool lineFeed = true;
    ReplyFault replyFault = ReplyFault::None;
    ListingFault listingFault = ListingFault::None;
    long openError = 0;
    bool open = false;
    std::optional<quint8> lastTag;
    std::optional<QByteArray> pendingReply;
    std::optional<QByteArray> pendingIn;
    // A late reply: held back from the host's next bulk-IN, then first in line.
    std::optional<QByteArray> heldIn;
    std::optional<QByteArray> lateIn;
    QElapsedTimer clock;

    QList<QByteArray> sent;
    QList<QByteArray> answered;
    QList<QByteArray> executed;
    QStringList breaches;
    QList<qint64> times;
};

#endif
