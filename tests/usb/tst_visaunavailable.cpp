// Runs twice: once with no VISA library on the search path, once with a VISA
// library that lacks viSetBuf (VISA_LIBRARY_INCOMPLETE). Either way the VISA
// backend must stand aside, untouched, for the raw USBTMC backend.
#include "messagelog.h"
#include "usb/usbconnection.h"
#include "usb/visabackend.h"
#include "usb/winusbtmc.h"

#include <QLoggingCategory>
#include <QtTest>

class TestVisaUnavailable : public QObject
{
    Q_OBJECT

private slots:
    void reportsWhyItIsUnavailable();
    void refusesEveryOperation();
    void connectionFallsBackToRawBackend();
};

void TestVisaUnavailable::reportsWhyItIsUnavailable()
{
    MessageLog log;
    VisaBackend backend;
    QVERIFY(!backend.isAvailable());
#ifdef VISA_LIBRARY_INCOMPLETE
    QVERIFY(log.contains("Visa32 library loaded"));
    QCOMPARE(log.startingWith("Visa32 library lacks entry point"),
             QStringList{"Visa32 library lacks entry point viSetBuf; not used"});
    QVERIFY(!log.contains("Could not load Visa32 library"));
#else
    QVERIFY(log.contains("Could not load Visa32 library"));
    QVERIFY(!log.contains("Visa32 library loaded"));
#endif

    // The USB layer's lines are silenced by the rule the README gives.
    QLoggingCategory::setFilterRules("rfpanel.usb.debug=false");
    MessageLog silenced;
    VisaBackend quiet;
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(silenced.lines(), QStringList());
}

void TestVisaUnavailable::refusesEveryOperation()
{
    // With the library half there, a call through a missing entry point would crash.
    VisaBackend backend;
    QCOMPARE(backend.setupBackend(), -1);
    QCOMPARE(backend.openDevice("USB0::0x2012::0x4417::SN0001::INSTR"), -1);
    QCOMPARE(backend.write("*IDN?", 5), -1);
    char buffer[16];
    QCOMPARE(backend.read(buffer, 15), -1);
    backend.setReadBufferSize(4096);
    QCOMPARE(backend.findDevices(), qMakePair(0, QStringList()));
    QCOMPARE(backend.closeDevice(), -1);
    backend.teardownBackend();

    // Handed to a connection all the same, it makes the setup fail, and says so.
    MessageLog log;
    usbConnection connection(new VisaBackend);
    QCOMPARE(connection.setupVISA(), -1);
    QCOMPARE(log.startingWith("usbConnection::"),
             QStringList{"usbConnection::setupVISA setupBackend failed"});
}

void TestVisaUnavailable::connectionFallsBackToRawBackend()
{
    usbConnection connection;
    QVERIFY(dynamic_cast<const WinUSBTMC *>(connection.backend()));
    QCOMPARE(connection.deviceInfo.address, QString("-1"));
    QVERIFY(connection.moduleList.isEmpty());
}

QTEST_GUILESS_MAIN(TestVisaUnavailable)
#include "tst_visaunavailable.moc"
