#include "winusbtmc.h"

#include "usblog.h"
#include "workerstop.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QtEndian>
#include <climits>
#include <cstring>
#include <vector>

namespace
{

constexpr std::size_t headerSize = 12;
constexpr quint8 devDepMsgOut = 1;
constexpr quint8 requestDevDepMsgIn = 2;
constexpr quint8 endOfMessage = 1;
// Room behind the caller's maximum for the reply header and alignment bytes.
constexpr std::size_t readSlack = 16;
// How long one read goes on discarding replies to earlier requests; each
// transfer is bounded by the port's own time-out as well.
constexpr qint64 replyDeadlineMs = 5000;

// The driver needs a moment between transfers; every bulk transfer and
// every enumeration step is bracketed by this pause.
void pause()
{
    QThread::msleep(10);
}

void putHeader(quint8 *out, quint8 msgId, quint8 tag, quint32 transferSize, quint8 attributes)
{
    out[0] = msgId;
    out[1] = tag;
    out[2] = quint8(~tag);
    out[3] = 0;
    qToLittleEndian<quint32>(transferSize, out + 4);
    out[8] = attributes;
    out[9] = 0;
    out[10] = 0;
    out[11] = 0;
}

} // namespace

WinUSBTMC::WinUSBTMC() : WinUSBTMC(createPlatformUsbTmcPort()) {}

WinUSBTMC::WinUSBTMC(std::unique_ptr<UsbTmcPort> port) : port(std::move(port))
{
    this->port->setStopCheck(workerStopRequested);
}

WinUSBTMC::~WinUSBTMC() = default;

int WinUSBTMC::setupBackend()
{
    return 0;
}

void WinUSBTMC::teardownBackend() {}

int WinUSBTMC::openDevice(const QString &resource)
{
    tag = 1;
    // A second open would otherwise leave the first device claimed with no
    // way left to release it.
    if (port->isOpen()) {
        qCDebug(lcUsb, "Closing the device that is still open");
        port->close();
    }
    const bool opened = port->open(resource.toStdString());
    pause();
    if (!opened) {
        qCDebug(lcUsb, "Error on handle open");
        qCDebug(lcUsb, "%ld", port->lastError());
        return -1;
    }
    return 0;
}

int WinUSBTMC::closeDevice()
{
    const bool closed = port->close();
    pause();
    if (!closed) {
        qCDebug(lcUsb, "Error closing file handle");
        qCDebug(lcUsb, "%ld", port->lastError());
        return -1;
    }
    return 0;
}

quint8 WinUSBTMC::takeTag()
{
    const quint8 current = tag;
    tag = tag == 255 ? 1 : tag + 1;
    return current;
}

int WinUSBTMC::write(const char *data, int length)
{
    if (length < 0 || length > INT_MAX - 15 || (!data && length > 0)) {
        qCDebug(lcUsb, "Invalid command buffer of length %d", length);
        return -1;
    }
    const std::size_t payload = std::size_t(length);
    const std::size_t alignment = (4 - payload % 4) % 4;
    const std::size_t total = headerSize + payload + alignment;

    std::vector<quint8> message(total, 0);
    putHeader(message.data(), devDepMsgOut, tag, quint32(payload), endOfMessage);
    if (payload > 0)
        std::memcpy(message.data() + headerSize, data, payload);

    pause();
    std::size_t written = 0;
    const bool sent = port->write(message.data(), total, &written);
    takeTag();
    pause();
    if (!sent) {
        qCDebug(lcUsb, "Error Writing to USB device during send");
        qCDebug(lcUsb, "%ld", port->lastError());
        return -1;
    }
    if (written != total) {
        qCDebug(lcUsb, "Wrong number of bytes written");
        qCDebug(lcUsb, "%ld", long(written));
        return -2;
    }
    return int(total);
}

int WinUSBTMC::read(char *buffer, int maximum)
{
    if (maximum < 0 || maximum > INT_MAX - int(readSlack) || (!buffer && maximum > 0)) {
        qCDebug(lcUsb, "Invalid read buffer of size %d", maximum);
        return -1;
    }
    const quint8 requestTag = tag;
    if (!requestReply(requestTag, quint32(maximum)))
        return -1;
    const QDeadlineTimer deadline(replyDeadlineMs);

    std::vector<quint8> reply(std::size_t(maximum) + readSlack, 0);
    std::size_t received = 0;
    if (!receiveAnswer(requestTag, deadline, reply, &received))
        return -1;
    if (received < headerSize) {
        qCDebug(lcUsb, "Read data not long enough");
        return -1;
    }
    if (reply[0] != requestDevDepMsgIn || reply[1] != quint8(~reply[2]) || reply[1] != requestTag) {
        qCDebug(lcUsb, "Read packet looks invalid");
        return -1;
    }
    quint32 size = qFromLittleEndian<quint32>(reply.data() + 4);
    // 64-bit sum: a TransferSize near 4 GiB must not wrap round and pass.
    if (quint64(received) < quint64(size) + headerSize) {
        qCDebug(lcUsb, "Read data not long enough after processing size");
        return -1;
    }
    // The reply buffer has slack for alignment bytes, so a device can claim
    // a few bytes more than were asked for; the caller's buffer cannot take them.
    if (size > quint32(maximum)) {
        qCDebug(lcUsb, "Reply of %u bytes cut to the %d bytes asked for", size, maximum);
        size = quint32(maximum);
    }
    if (size > 0)
        std::memcpy(buffer, reply.data() + headerSize, size);
    return int(size);
}

bool WinUSBTMC::requestReply(quint8 requestTag, quint32 maximum)
{
    quint8 request[headerSize];
    putHeader(request, requestDevDepMsgIn, requestTag, maximum, 0);

    pause();
    std::size_t written = 0;
    const bool sent = port->write(request, headerSize, &written);
    takeTag();
    pause();
    if (!sent) {
        qCDebug(lcUsb, "Error Writing to USB device");
        qCDebug(lcUsb, "%ld", port->lastError());
        return false;
    }
    if (written < headerSize) {
        qCDebug(lcUsb, "Couldn't send the right number of bytes");
        return false;
    }
    return true;
}

// A reply that reaches the endpoint after its own read gave up still waits
// there, ahead of the reply to the next request. Taken as that answer it
// would fail the read and leave the right reply queued, shifting every later
// reply by one; so a well-formed reply to another tag is dropped and the
// next transfer is read instead.
bool WinUSBTMC::receiveAnswer(quint8 requestTag, const QDeadlineTimer &deadline,
                              std::vector<quint8> &reply, std::size_t *received)
{
    for (;;) {
        pause();
        const bool got = port->read(reply.data(), reply.size(), received);
        pause();
        if (!got) {
            qCDebug(lcUsb, "Error Reading from USB device");
            qCDebug(lcUsb, "%ld", port->lastError());
            return false;
        }
        const bool otherRequest = *received >= headerSize && reply[0] == requestDevDepMsgIn &&
                                  reply[1] == quint8(~reply[2]) && reply[1] != requestTag;
        if (!otherRequest)
            return true;
        qCDebug(lcUsb, "Reply with bTag %u does not answer this read (bTag %u); discarded",
                reply[1], requestTag);
        if (deadline.hasExpired()) {
            qCDebug(lcUsb, "No reply with bTag %u in time", requestTag);
            return false;
        }
    }
}

void WinUSBTMC::getAttribute(const unsigned *, int *) {}

void WinUSBTMC::setAttribute(const unsigned *, int) {}

void WinUSBTMC::setReadBufferSize(int) {}

QPair<int, QStringList> WinUSBTMC::findDevices()
{
    QPair<int, QStringList> found(0, QStringList());

    pause();
    const bool listed = port->beginEnumeration();
    pause();
    if (!listed) {
        qCDebug(lcUsb, "0x%lX", port->lastError());
        return QPair<int, QStringList>(-1, QStringList());
    }

    unsigned index = 0;
    pause();
    bool more = port->selectInterface(index);
    pause();
    // Each instrument asked takes about a second; a stop ends the listing.
    while (more && !workerStopRequested()) {
        interrogate(found);
        pause();
        more = port->selectInterface(++index);
        pause();
    }
    qCDebug(lcUsb, "Enumeration done");
    qCDebug(lcUsb, "0x%lX", port->lastError());
    qCDebug(lcUsb, "For comparison, the expected value is 0x%lX", UsbTmcPort::errorNoMoreItems);

    if (!port->endEnumeration())
        qCDebug(lcUsb, "Error deleting device list handle");
    qCDebug(lcUsb, "Finished");
    return found;
}

void WinUSBTMC::interrogate(QPair<int, QStringList> &found)
{
    unsigned long required = 0;
    pause();
    const UsbTmcPort::DetailSize sized = port->queryDetailSize(&required);
    pause();
    if (sized == UsbTmcPort::DetailSize::UnexpectedSuccess) {
        qCDebug(lcUsb, "Call shouldn't have succeeded yet");
        return;
    }
    if (sized == UsbTmcPort::DetailSize::Failed) {
        qCDebug(lcUsb, "Error on initial call to enumerate device");
        qCDebug(lcUsb, "%ld", port->lastError());
        return;
    }
    qCDebug(lcUsb, "Got required size...");
    qCDebug(lcUsb, "%ld", long(required));

    std::string path;
    pause();
    const bool detailed = port->queryDevicePath(required, &path);
    pause();
    if (!detailed) {
        qCDebug(lcUsb, "Error on final call to enumerate device");
        qCDebug(lcUsb, "0x%lX", port->lastError());
        return;
    }
    const QString devicePath = QString::fromStdString(path);
    qCDebug(lcUsb, "Got a handle!");
    qCDebug(lcUsb, "Now interrogating");
    pause();

    if (openDevice(devicePath) != 0) {
        qCDebug(lcUsb, "Error opening that handle");
        return;
    }
    pause();
    if (isOurInstrument()) {
        qCDebug(lcUsb, "It's an KVX device");
        found.second.append(devicePath);
        ++found.first;
    }
    closeDevice();
}

bool WinUSBTMC::isOurInstrument()
{
    static const char query[] = "*IDN?\n";
    if (write(query, 6) < 0)
        return false;
    char reply[256];
    const int got = read(reply, 255);
    if (got <= 0)
        return false;
    const QStringList parts =
        QString::fromLatin1(reply, got).trimmed().split(',', Qt::KeepEmptyParts);
    return parts.size() == 4 && parts.at(0) == QLatin1String("Ostrelin");
}

bool WinUSBTMC::isAvailable()
{
    return true;
}
