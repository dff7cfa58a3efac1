#ifndef EMULATEDUSBBUS_H
#define EMULATEDUSBBUS_H

#include "simulatedusbtmcdevice.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// One USBTMC instrument at the kernel's usbdevfs interface, as libusb sees a
// plugged-in device: a sysfs entry with its descriptors and a device node
// whose ioctls (claim, release, submit, reap and discard URBs) are answered
// here. The USBTMC messages go to a SimulatedUsbTmcDevice, which checks every
// frame; this layer adds the USB side: packets, URBs, timing and unplugging.
// Its calls come from umockdev's worker thread, so every member is guarded.
class EmulatedUsbDevice
{
public:
    struct Identity {
        quint16 vendor = 0x2012;
        quint16 product = 0x4417;
        int bus = 3;
        int address = 7;
        QString port = QStringLiteral("3-1"); // sysfs name: bus and hub port
        int packetSize = 64;                  // wMaxPacketSize of both bulk endpoints
    };

    EmulatedUsbDevice(const Identity &identity, const InstrumentModel::Config &config);
    ~EmulatedUsbDevice();
    EmulatedUsbDevice(const EmulatedUsbDevice &) = delete;
    EmulatedUsbDevice &operator=(const EmulatedUsbDevice &) = delete;

    const Identity &identity() const { return id; }
    // The path the libusb layer lists this interface under.
    std::string path() const;
    QString sysName() const;
    QString deviceNode() const;
    // Device descriptor followed by the configuration, as sysfs shows them.
    QByteArray descriptors() const;
    UMockdevIoctlBase *handler() const { return ioctlHandler; }

    // Runs `change` on the instrument's state, between two transfers.
    template <typename Change> void withModel(Change change)
    {
        QMutexLocker lock(&mutex);
        change(instrument.model());
    }

    // Faults, each until changed.
    void setReplyDelayMs(int ms);
    void setReplyFault(SimulatedUsbTmcDevice::ReplyFault fault);
    // Sends each reply in whole packets, the last one filled up with zeros.
    void setFullPackets(bool on);
    // Pulls the plug once the host waits for the next bulk-IN transfer: that
    // transfer ends with -ESHUTDOWN and every later ioctl fails with ENODEV.
    void unplugDuringNextRead();

    QStringList violations() const;
    QList<QByteArray> commands() const;
    // Buffer length of each bulk-IN URB.
    QList<int> inRequestLengths() const { return locked(inLengths); }
    int ioctlCount() const { return locked(ioctls); }
    int claims() const { return locked(claimCount); }
    int releases() const { return locked(releaseCount); }
    int discards() const { return locked(discardCount); }
    bool isInterfaceClaimed() const { return locked(claimed); }

private:
    // A copy of `member`, taken while no ioctl is changing it.
    template <typename T> T locked(const T &member) const
    {
        QMutexLocker lock(&mutex);
        return member;
    }

    struct Completion {
        quint64 urb = 0;
        int status = 0;
        int actualLength = 0;
        QByteArray data;
    };
    struct HeldIn {
        quint64 urb = 0;
        int length = 0;
        QElapsedTimer since;
    };

    static int onIoctl(UMockdevIoctlBase *base, UMockdevIoctlClient *client, void *self);
    void handle(UMockdevIoctlClient *client);
    // Each request's errno, 0 when it succeeds; none for a reap that finds
    // nothing finished yet.
    std::optional<int> answer(unsigned long request, UMockdevIoctlData *arg);
    int claim(unsigned interface);
    int release(unsigned interface);
    int submit(UMockdevIoctlData *arg);
    void holdIn(quint64 address, int length);
    std::optional<int> reap(UMockdevIoctlData *arg);
    int discard(quint64 address);
    // Records a fault of the host's and refuses its request with `error`.
    int refuse(int error, const QString &why);
    static unsigned interfaceIn(UMockdevIoctlData *arg, std::size_t offset);
    static quint64 urbAddress(UMockdevIoctlData *arg);
    std::optional<Completion> nextCompletion();
    Completion deliver(const HeldIn &held, QByteArray frame);

    Identity id;
    UMockdevIoctlBase *ioctlHandler = nullptr;
    unsigned long signalId = 0;

    mutable QMutex mutex;
    SimulatedUsbTmcDevice instrument;
    std::deque<Completion> completed;
    std::optional<HeldIn> heldIn;
    QByteArray leftover; // the part of a reply beyond a whole-packet request
    int replyDelayMs = 0;
    bool fullPackets = false;
    bool unplugAtRead = false;
    bool unplugged = false;
    bool claimed = false;
    QStringList usbViolations;
    QList<int> inLengths;
    int ioctls = 0;
    int claimCount = 0;
    int releaseCount = 0;
    int discardCount = 0;
};

// A umockdev test bed holding emulated USB devices. The process must run
// with umockdev's preload library, which redirects /sys and /dev to the test
// bed; isActive() tells whether that worked.
class EmulatedUsbBus
{
public:
    EmulatedUsbBus();
    ~EmulatedUsbBus();
    EmulatedUsbBus(const EmulatedUsbBus &) = delete;
    EmulatedUsbBus &operator=(const EmulatedUsbBus &) = delete;

    // Devices must be added before the libusb context that is to see them
    // is created: libusb reads the bus once, at its start.
    EmulatedUsbDevice &add(const EmulatedUsbDevice::Identity &identity = {},
                           const InstrumentModel::Config &config = {});

    // Empty when the first device added can be read back through /sys,
    // otherwise what went wrong.
    QString problem() const { return failure; }

private:
    void createNode(const QString &node);
    void checkRedirection(const EmulatedUsbDevice &device);

    UMockdevTestbed *testbed;
    std::vector<std::unique_ptr<EmulatedUsbDevice>> devices;
    QString failure;
};

#endif
