// The libusb layer and the raw USBTMC backend over it, with libusb itself
// underneath: instruments are emulated at the kernel's usbdevfs interface,
// so opening, claiming, bulk transfers, timeouts and releasing all run as
// with the instrument plugged in.
#include "emulatedusbbus.h"
#include "libusbtmcport.h"
#include "messagelog.h"
#include "winusbtmc.h"

#include <QElapsedTimer>
#include <QtTest>
#include <libusb.h>
#include <memory>

Q_DECLARE_METATYPE(SimulatedUsbTmcDevice::ReplyFault)

namespace
{
const QByteArray Idn = "Ostrelin,KX4417-UDC,SN000123,2.4.1\n";
// Short enough to keep the suite fast, long enough for any reply that is on
// time even on a busy machine.
const unsigned ShortTimeoutMs = 1000;

// A raw USBTMC backend over the libusb layer, as the panel builds it.
std::unique_ptr<WinUSBTMC> backend(unsigned timeoutMs = LibUsbTmcPort::transferTimeoutMs)
{
    return std::make_unique<WinUSBTMC>(std::make_unique<LibUsbTmcPort>(timeoutMs));
}

QString resource(const EmulatedUsbDevice &device)
{
    return QString::fromStdString(device.path());
}

// One query through the backend: its reply, or "(read failed)".
QByteArray ask(WinUSBTMC &usb, const QByteArray &query)
{
    if (usb.write(query.constData(), query.size()) <= 0)
        return "(write failed)";
    char reply[256];
    const int length = usb.read(reply, 255);
    return length < 0 ? QByteArray("(read failed)") : QByteArray(reply, length);
}
} // namespace

class LibUsbOnBusTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<EmulatedUsbBus> bus;

    EmulatedUsbDevice &plugIn(const EmulatedUsbDevice::Identity &identity = {})
    {
        EmulatedUsbDevice &device = bus->add(identity);
        if (!bus->problem().isEmpty())
            qFatal("Emulated USB bus unusable: %s", qPrintable(bus->problem()));
        return device;
    }

private slots:
    void init() { bus = std::make_unique<EmulatedUsbBus>(); }
    void cleanup() { bus.reset(); }

    void listsOnlyTheInstrumentMakersInterfaces();
    void exchangesInWholePackets_data();
    void exchangesInWholePackets();
    void slowRepliesWithinTheTimeout_data();
    void slowRepliesWithinTheTimeout();
    void badReplyFramesAreRefused_data();
    void badReplyFramesAreRefused();
    void unplugMidTransferFailsAtOnce();
};

void LibUsbOnBusTest::listsOnlyTheInstrumentMakersInterfaces()
{
    EmulatedUsbDevice &ours = plugIn();
    EmulatedUsbDevice::Identity foreignIdentity;
    foreignIdentity.vendor = 0x1234;
    foreignIdentity.address = 8;
    foreignIdentity.port = "3-2";
    // Another maker's USBTMC instrument that would even answer like ours.
    EmulatedUsbDevice &foreign = plugIn(foreignIdentity);

    std::unique_ptr<WinUSBTMC> usb = backend();
    const QPair<int, QStringList> found = usb->findDevices();
    QCOMPARE(found.first, 1);
    QCOMPARE(found.second, QStringList{resource(ours)});
    QCOMPARE(foreign.ioctlCount(), 0);
    QCOMPARE(foreign.claims(), 0);
    // The listing asked ours who it is and gave the interface back.
    QCOMPARE(ours.commands(), QList<QByteArray>{"*IDN?\n"});
    QCOMPARE(ours.claims(), 1);
    QCOMPARE(ours.releases(), 1);
    QVERIFY2(ours.violations().isEmpty(), qPrintable(ours.violations().join('\n')));
}

void LibUsbOnBusTest::exchangesInWholePackets_data()
{
    QTest::addColumn<int>("packetSize");
    QTest::addColumn<bool>("fullPackets");
    QTest::addColumn<int>("requested"); // 255 bytes and the reply header's slack, rounded up
    QTest::newRow("full speed, 64-byte packets") << 64 << false << 320;
    QTest::newRow("high speed, 512-byte packets") << 512 << false << 512;
    QTest::newRow("high speed, reply padded to a whole packet") << 512 << true << 512;
}

void LibUsbOnBusTest::exchangesInWholePackets()
{
    QFETCH(int, packetSize);
    QFETCH(bool, fullPackets);
    QFETCH(int, requested);
    EmulatedUsbDevice::Identity identity;
    identity.packetSize = packetSize;
    EmulatedUsbDevice &device = plugIn(identity);
    device.setFullPackets(fullPackets);

    std::unique_ptr<WinUSBTMC> usb = backend();
    QCOMPARE(usb->openDevice(resource(device)), 0);
    QVERIFY(device.isInterfaceClaimed());
    QCOMPARE(usb->write("freq:tune 12.5000", 17), 32);
    QCOMPARE(ask(*usb, "*IDN?"), Idn);
    // Longer than a 64-byte packet with its header: the tune frequency set above.
    QVERIFY(ask(*usb, "syst:readstate?").startsWith("12.80000,12.5000,0,"));
    QCOMPARE(device.inRequestLengths(), (QList<int>{requested, requested}));
    QCOMPARE(usb->closeDevice(), 0);
    QVERIFY(!device.isInterfaceClaimed());
    QCOMPARE(device.commands(),
             (QList<QByteArray>{"freq:tune 12.5000", "*IDN?", "syst:readstate?"}));
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join('\n')));
}

void LibUsbOnBusTest::slowRepliesWithinTheTimeout_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("late, within the timeout") << 150 << Idn;
    QTest::newRow("later than the timeout") << 2500 << QByteArray("(read failed)");
    QTest::newRow("never: no reply waiting") << -1 << QByteArray("(read failed)");
}

void LibUsbOnBusTest::slowRepliesWithinTheTimeout()
{
    QFETCH(int, delayMs);
    QFETCH(QByteArray, reply);
    EmulatedUsbDevice &device = plugIn();
    std::unique_ptr<WinUSBTMC> usb = backend(ShortTimeoutMs);
    QCOMPARE(usb->openDevice(resource(device)), 0);
    device.setReplyDelayMs(qMax(delayMs, 0));

    MessageLog capture;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(ask(*usb, delayMs < 0 ? "freq:tune 11" : "*IDN?"), reply);
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= qMin<qint64>(qMax(delayMs, 0), ShortTimeoutMs),
             qPrintable(QString::number(took)));
    QVERIFY2(took < ShortTimeoutMs + 1000, qPrintable(QString::number(took)));
    if (reply != Idn) {
        QVERIFY(capture.lines().contains("Error Reading from USB device"));
        QVERIFY(capture.lines().contains(QString::number(UsbTmcPort::errorTimeout)));
        QCOMPARE(device.discards(), 1);
    }

    // The abandoned transfer is gone: the next exchange gets its own reply.
    device.setReplyDelayMs(0);
    QCOMPARE(ask(*usb, "SYST:FIRMID?"), QByteArray("0042\n"));
    QCOMPARE(usb->closeDevice(), 0);
    QVERIFY2(device.violations().isEmpty(), qPrintable(device.violations().join('\n')));
}

void LibUsbOnBusTest::badReplyFramesAreRefused_data()
{
    QTest::addColumn<SimulatedUsbTmcDevice::ReplyFault>("fault");
    QTest::addColumn<QString>("line");
    // Taken for a reply to another request and dropped; nothing else comes.
    QTest::newRow("wrong tag") << SimulatedUsbTmcDevice::ReplyFault::WrongTag
                               << "Reply with bTag 3 does not answer this read (bTag 2); discarded";
    QTest::newRow("tag without its complement")
        << SimulatedUsbTmcDevice::ReplyFault::BadComplement << "Read packet looks invalid";
    QTest::newRow("short frame") << SimulatedUsbTmcDevice::ReplyFault::ShortFrame
                                 << "Read data not long enough";
}

void LibUsbOnBusTest::badReplyFramesAreRefused()
{
    QFETCH(SimulatedUsbTmcDevice::ReplyFault, fault);
    QFETCH(QString, line);
    EmulatedUsbDevice &device = plugIn();
    std::unique_ptr<WinUSBTMC> usb = backend(ShortTimeoutMs);
    QCOMPARE(usb->openDevice(resource(device)), 0);
    device.setReplyFault(fault);
    MessageLog capture;
    QCOMPARE(ask(*usb, "*IDN?"), QByteArray("(read failed)"));
    QVERIFY2(capture.lines().contains(line), qPrintable(capture.lines().join('\n')));
    QCOMPARE(ask(*usb, "*IDN?"), Idn);
    QCOMPARE(usb->closeDevice(), 0);
}

void LibUsbOnBusTest::unplugMidTransferFailsAtOnce()
{
    EmulatedUsbDevice &device = plugIn();
    LibUsbTmcPort port;
    QVERIFY(port.open(device.path()));
    device.setReplyDelayMs(60000);
    device.unplugDuringNextRead();

    const std::uint8_t request[12] = {2, 1, 0xFE, 0, 255, 0, 0, 0, 0, 0, 0, 0};
    std::size_t count = 0;
    QVERIFY(port.write(request, sizeof request, &count));
    QCOMPARE(count, sizeof request);
    std::uint8_t reply[300];
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!port.read(reply, sizeof reply, &count));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(port.lastError(), long(-LIBUSB_ERROR_NO_DEVICE));
    QCOMPARE(count, std::size_t(0));

    QVERIFY(!port.write(request, sizeof request, &count));
    QCOMPARE(port.lastError(), long(-LIBUSB_ERROR_NO_DEVICE));
    // Gone for good: closing still frees the handle.
    QVERIFY(port.close());
    QVERIFY(!port.isOpen());
}

QTEST_GUILESS_MAIN(LibUsbOnBusTest)
#include "tst_libusbonbus.moc"
