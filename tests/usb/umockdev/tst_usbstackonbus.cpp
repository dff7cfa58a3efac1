// The whole USB road of the panel, from the connection manager on its worker
// thread down through libusb, to an instrument emulated at the kernel's
// usbdevfs interface: finding, opening, identifying and inventorying it,
// reading its network settings at start-up, polling its status and sending
// it commands.
#include "connectionharness.h"
#include "emulatedusbbus.h"
#include "hardwareabstractionusb.h"
#include "simserver.h"
#include "testworkdir.h"
#include "usbconnection.h"
#include "winusbtmc.h"

#include <QElapsedTimer>
#include <QtTest>
#include <memory>

namespace
{
const QString Model = QStringLiteral("KX4417-UDC");
const int AnswerMs = ConnectionHarness::AnswerMs;

// Where `expected` starts as a run of consecutive entries in `all`, or -1.
int runIndex(const QList<QByteArray> &all, const QList<QByteArray> &expected)
{
    for (int i = 0; i + expected.size() <= all.size(); ++i) {
        if (all.mid(i, expected.size()) == expected)
            return i;
    }
    return -1;
}
} // namespace

class UsbStackOnBusTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkdir> workdir;
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<EmulatedUsbBus> bus;
    EmulatedUsbDevice *device = nullptr;
    std::unique_ptr<ConnectionHarness> harness;

    // A Connection whose USB access uses the raw backend on this system's
    // USB layer, whatever VISA library the machine may have.
    ConnectionProbe &start()
    {
        auto *hardware =
            new HardwareAbstractionUSB([] { return new usbConnection(new WinUSBTMC); });
        harness = std::make_unique<ConnectionHarness>(new Connection(hardware, testTimings()));
        return harness->probe();
    }

    void expectNoViolations()
    {
        QVERIFY2(device->violations().isEmpty(), qPrintable(device->violations().join('\n')));
    }

private slots:
    void init()
    {
        workdir = std::make_unique<TestWorkdir>();
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start(0));
        bus = std::make_unique<EmulatedUsbBus>();
        device = &bus->add();
        QVERIFY2(bus->problem().isEmpty(), qPrintable(bus->problem()));
    }

    void cleanup()
    {
        harness.reset();
        device = nullptr;
        bus.reset();
        sim.reset();
        workdir.reset();
    }

    void startsUpOverUsbWithoutASettingsFile()
    {
        const int simPort = sim->port();
        device->withModel([simPort](InstrumentModel &model) { model.setPort(simPort); });
        emit start().initConn();
        const QString port = QString::number(simPort);
        const QStringList expected{"status 01", "usb " + Model,
                                   "net 127.0.0.1,255.0.0.0,127.0.0.1," + port, "status 11",
                                   "tcp " + Model};
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.size(), expected.size(), AnswerMs);
        QCOMPARE(harness->events, expected);
        QCOMPARE(TestWorkdir::settings(),
                 "127.0.0.1\n255.0.0.0\n127.0.0.1\n" + port.toUtf8() + "\n");

        const QList<QByteArray> commands = device->commands();
        // Asked who it is while listed, inventoried, then opened and
        // identified, then asked its settings.
        QCOMPARE(commands.value(0), QByteArray("*IDN?\n"));
        QVERIFY(runIndex(commands, {"*IDN?", "SYST:FIRMID?", "SYST:MODU?",
                                    "SYST:SENDSTR:0 \"*IDN?\"", "SYST:READSTR:0?"}) == 1);
        QVERIFY(runIndex(commands, {"LCD:LCD?", "LCD:SERNUM?", "LCD:VERS?", "SYST:ALTERA?"}) > 0);
        QCOMPARE(commands.mid(commands.size() - 5),
                 (QList<QByteArray>{"*IDN?", "enet:ip?", "enet:gateway?", "enet:submask?",
                                    "enet:port?"}));
        // Listing and inventory gave the interface back; the connection holds it now.
        QCOMPARE(device->claims(), 3);
        QCOMPARE(device->releases(), 2);
        QVERIFY(device->isInterfaceClaimed());
        expectNoViolations();
    }

    void commandsAndStatusUntilUnplugged()
    {
        ConnectionProbe &probe = start();
        emit probe.connectUSB();
        QTRY_COMPARE_WITH_TIMEOUT(harness->events, (QStringList{"status 01", "usb " + Model}),
                                  AnswerMs);

        emit probe.command("freq:tune 12.5000");
        emit probe.query("syst:readstate?", MODE_STATUS);
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.size(), 3, AnswerMs);
        QVERIFY2(harness->events.last().startsWith("reply 12.80000,12.5000,0,"),
                 qPrintable(harness->events.last()));
        expectNoViolations();

        // Pulled out while the status reply is being read: no reply, as soon
        // as the read fails rather than at the end of its 5 s timeout.
        device->unplugDuringNextRead();
        QElapsedTimer clock;
        clock.start();
        emit probe.query("syst:readstate?", MODE_STATUS);
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.size(), 4, AnswerMs);
        QCOMPARE(harness->events.last(), QString("no reply"));
        QVERIFY2(clock.elapsed() < testTimings().usbStatusReadDelayMs + 1500,
                 qPrintable(QString::number(clock.elapsed())));

        // The connection is still there for the operator to close.
        emit probe.closeUSB();
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.value(4), QString("status 00"), AnswerMs);
    }
};

QTEST_GUILESS_MAIN(UsbStackOnBusTest)
#include "tst_usbstackonbus.moc"
