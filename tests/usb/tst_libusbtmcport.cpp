#include "libusbtmcport.h"
#include "messagelog.h"
#include "winusbtmc.h"

#include <QtTest>

// The libusb layer against the USB devices of the machine the tests run on,
// which normally has no instrument attached (and may have no USB at all).
class TestLibUsbTmcPort : public QObject
{
    Q_OBJECT

private slots:
    void enumeratesThisMachine();
    void refusesWhatItCannotOpen();
    void defaultBackendUsesThePlatformLayer();
};

void TestLibUsbTmcPort::enumeratesThisMachine()
{
    LibUsbTmcPort port;
    QVERIFY(port.beginEnumeration());
    unsigned index = 0;
    while (port.selectInterface(index)) {
        unsigned long required = 0;
        QCOMPARE(port.queryDetailSize(&required), UsbTmcPort::DetailSize::Known);
        std::string path;
        QVERIFY(port.queryDevicePath(required, &path));
        QVERIFY2(QString::fromStdString(path).startsWith("usb:"), path.c_str());
        ++index;
    }
    QCOMPARE(port.lastError(), UsbTmcPort::errorNoMoreItems);
    QVERIFY(port.endEnumeration());
    // Asking for details without a selected interface is an error, not a crash.
    unsigned long required = 0;
    QCOMPARE(port.queryDetailSize(&required), UsbTmcPort::DetailSize::Failed);
}

void TestLibUsbTmcPort::refusesWhatItCannotOpen()
{
    LibUsbTmcPort port;
    for (const char *path : {"", "usb:", "usb:2012:0001:1:2", "usb:2012:0001:1:2:0junk",
                             "\\\\?\\usb#vid_2012", "usb:2012:0001:255:255:0"}) {
        QVERIFY2(!port.open(path), path);
        QCOMPARE(port.lastError(), UsbTmcPort::errorFileNotFound);
        QVERIFY(!port.isOpen());
    }
    std::uint8_t byte = 0;
    std::size_t count = 99;
    QVERIFY(!port.write(&byte, 1, &count));
    QCOMPARE(count, std::size_t(0));
    QVERIFY(!port.read(&byte, 1, &count));
    QVERIFY(!port.close());
    QCOMPARE(port.lastError(), UsbTmcPort::errorInvalidHandle);
}

void TestLibUsbTmcPort::defaultBackendUsesThePlatformLayer()
{
    WinUSBTMC backend;
    MessageLog capture;
    const QPair<int, QStringList> found = backend.findDevices();
    QVERIFY(found.first >= 0);
    QCOMPARE(found.second.size(), found.first);
    QVERIFY(capture.lines().contains("Enumeration done"));
    QVERIFY(capture.lines().contains("For comparison, the expected value is 0x103"));
    QCOMPARE(capture.lines().last(), QString("Finished"));
    QCOMPARE(backend.openDevice("usb:2012:0001:255:255:0"), -1);
}

QTEST_GUILESS_MAIN(TestLibUsbTmcPort)
#include "tst_libusbtmcport.moc"
