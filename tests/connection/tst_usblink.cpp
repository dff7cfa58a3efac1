// The connection manager's USB link: a Connection on its worker thread with
// the real USB access stack over simulated USBTMC instruments, and the
// simulator on loopback TCP where a TCP/IP link is involved.
#include "connectionharness.h"
#include "hardwareabstractionusb.h"
#include "loopback.h"
#include "messagelog.h"
#include "simserver.h"
#include "simulatedusbtmcport.h"
#include "testworkdir.h"
#include "usbconnection.h"
#include "winusbtmc.h"

#include <QElapsedTimer>
#include <QtTest>
#include <memory>

namespace
{
const QString Host = QStringLiteral("127.0.0.1");
const QString Model = QStringLiteral("KX4417-UDC");
const QString OtherModelIdn = QStringLiteral("Ostrelin,KX9000-X,SN7,1.0");
const int AnswerMs = ConnectionHarness::AnswerMs;

// Fails the USB read that follows one chosen command, after it has been
// answered `answered` times, as an instrument that stops answering does;
// every other transfer passes. Asks the worker to stop as another chosen
// command goes out, as closing the panel does during that transfer.
class FaultyReadPort : public SimulatedUsbTmcPort
{
public:
    explicit FaultyReadPort(const QByteArray &failReplyTo, int answered = 0,
                            const QByteArray &stopAt = QByteArray())
        : failReplyTo(failReplyTo), answered(answered), stopAt(stopAt)
    {
    }

    bool write(const std::uint8_t *data, std::size_t length, std::size_t *written) override
    {
        const QByteArray frame(reinterpret_cast<const char *>(data), int(length));
        const bool command = frame.size() > 12 && frame.at(0) == 1;
        if (command && !failReplyTo.isEmpty()) {
            const bool chosen = frame.mid(12).startsWith(failReplyTo) && answered-- <= 0;
            setReadError(chosen ? errorTimeout : 0);
        }
        if (command && !stopAt.isEmpty() && frame.mid(12).startsWith(stopAt))
            QThread::currentThread()->requestInterruption();
        return SimulatedUsbTmcPort::write(data, length, written);
    }

private:
    QByteArray failReplyTo;
    int answered;
    QByteArray stopAt;
};

// True when `expected` appears in `lines` in this order, others in between.
bool inOrder(const QStringList &lines, const QStringList &expected)
{
    int from = 0;
    for (const QString &line : expected) {
        from = lines.indexOf(line, from);
        if (from < 0)
            return false;
        ++from;
    }
    return true;
}

} // namespace

class UsbLinkTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TestWorkdir> workdir;
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<FaultyReadPort> port; // until the Connection takes it
    FaultyReadPort *portInUse = nullptr;  // after that
    std::unique_ptr<ConnectionHarness> harness;
    int instruments = 0;

    std::shared_ptr<SimulatedUsbTmcDevice> addInstrument(const InstrumentModel::Config &config = {})
    {
        const std::string path = "usb:2012:4417:001:00" + std::to_string(++instruments) + ":0";
        return port->addDevice(path, config);
    }

    // Hands the simulated instruments to a Connection on its worker thread.
    ConnectionProbe &start()
    {
        portInUse = port.get();
        auto handed = std::make_shared<std::unique_ptr<UsbTmcPort>>(std::move(port));
        auto *hardware = new HardwareAbstractionUSB(
            [handed] { return new usbConnection(new WinUSBTMC(std::move(*handed))); });
        harness = std::make_unique<ConnectionHarness>(new Connection(hardware, testTimings()));
        return harness->probe();
    }

private slots:
    void init()
    {
        workdir = std::make_unique<TestWorkdir>();
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start(0));
        port = std::make_unique<FaultyReadPort>(QByteArray());
        instruments = 0;
    }

    void cleanup()
    {
        harness.reset();
        port.reset();
        sim.reset();
        workdir.reset();
    }

    void instrumentChoice_data()
    {
        QTest::addColumn<QStringList>("idns");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("acceptedIndex");
        QTest::addColumn<QByteArray>("silentTo");
        QTest::newRow("first is another model")
            << QStringList{OtherModelIdn, "Ostrelin,KX4417-DC,SN2,1.0"}
            << QStringList{"status 01", "usb KX4417-DC"} << 1 << QByteArray();
        QTest::newRow("only another model")
            << QStringList{OtherModelIdn} << QStringList{"status 00", "usb -1"} << -1
            << QByteArray();
        QTest::newRow("no instrument")
            << QStringList() << QStringList{"status 00", "usb -2"} << -1 << QByteArray();
        QTest::newRow("silent when asked who it is")
            << QStringList{"Ostrelin,KX4417-UDC,SN1,1.0"}
            << QStringList{"no reply", "status 00", "usb -1"} << -1 << QByteArray("*IDN?");
    }

    void instrumentChoice()
    {
        QFETCH(QStringList, idns);
        QFETCH(QStringList, expected);
        QFETCH(int, acceptedIndex);
        QFETCH(QByteArray, silentTo);
        // Listed, then silent when opened and asked again.
        port = std::make_unique<FaultyReadPort>(silentTo, 1);
        QList<std::shared_ptr<SimulatedUsbTmcDevice>> devices;
        for (const QString &idn : idns) {
            InstrumentModel::Config config;
            config.idn = idn;
            devices << addInstrument(config);
        }
        start();
        emit harness->probe().connectUSB();
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.size(), expected.size(), AnswerMs);
        QCOMPARE(harness->events, expected);
        for (int i = 0; i < devices.size(); ++i) {
            // Each was opened and asked who it is; only the accepted one stays open.
            QCOMPARE(devices.at(i)->commands().value(devices.at(i)->commands().size() - 1),
                     QByteArray("*IDN?"));
            QCOMPARE(devices.at(i)->isOpen(), i == acceptedIndex);
        }
    }

    void trafficOverUsb()
    {
        auto device = addInstrument();
        start();
        QCOMPARE(harness->connectUsb(), Model);
        device->clearRecords();

        emit harness->probe().command("freq:tune 12.5000");
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> status = harness->ask("syst:readstate?", MODE_STATUS);
        // The instrument's status reply is not ready any sooner.
        QVERIFY(clock.elapsed() >= testTimings().usbStatusReadDelayMs);
        QVERIFY(status);
        QCOMPARE(*status, QString::fromUtf8(device->model().statusReply()));
        QCOMPARE(status->split(',').value(1), QString("12.5000"));
        QCOMPARE(harness->ask("syst:bootstate?", MODE_STATE_LIST),
                 QString::fromUtf8(device->model().execute("syst:bootstate?").value_or("?")));
        QCOMPARE(device->commands(),
                 (QList<QByteArray>{"freq:tune 12.5000", "syst:readstate?", "syst:bootstate?"}));
        QVERIFY2(device->violations().isEmpty(), qPrintable(device->violations().join("; ")));

        // A command can report whether it went out: not when the write
        // fails, nor once the link is closed.
        QCOMPARE(harness->deliver("powe:lna 1"), true);
        portInUse->setWriteError(SimulatedUsbTmcPort::errorInvalidParameter);
        QCOMPARE(harness->deliver("powe:lna 0"), false);
        portInUse->setWriteError(0);

        harness->events.clear();
        emit harness->probe().closeUSB();
        QTRY_COMPARE_WITH_TIMEOUT(harness->events, QStringList{"status 00"}, AnswerMs);
        emit harness->probe().command("freq:tune 9.0000");
        QCOMPARE(harness->deliver("freq:tune 9.0000"), false);
        QCOMPARE(harness->connectUsb(), Model);
        QVERIFY(!device->commands().contains("freq:tune 9.0000"));
        QVERIFY(device->commands().contains("powe:lna 1"));
    }

    void identificationOverUsbWhileTcpIsUp()
    {
        auto device = addInstrument();
        TestWorkdir::writeSettings(Host, sim->port());
        start();
        QSignalSpy tcp(&harness->probe(), &ConnectionProbe::tcpConnFinished);
        emit harness->probe().connectTCP();
        QVERIFY(tcp.wait(AnswerMs));
        sim->clearReceived();

        QCOMPARE(harness->connectUsb(), Model);
        QCOMPARE(harness->events.mid(2), (QStringList{"status 11", "usb " + Model}));
        QCOMPARE(sim->receivedLines(), QStringList());
        QCOMPARE(device->commands().value(device->commands().size() - 1), QByteArray("*IDN?"));

        // With both links up, traffic goes over TCP/IP.
        device->clearRecords();
        QCOMPARE(harness->ask("syst:bootstate?", MODE_STATE_LIST),
                 modelReply(*sim, "syst:bootstate?"));
        QCOMPARE(sim->receivedLines(), QStringList{"syst:bootstate?"});
        QVERIFY(device->commands().isEmpty());

        harness->events.clear();
        emit harness->probe().closeConnection();
        QTRY_VERIFY_WITH_TIMEOUT(harness->events.contains("status 00"), AnswerMs);
        QCOMPARE(harness->events.first(), QString("status 01"));
        QVERIFY(!device->isOpen());
    }

    void networkSettingsOverUsb()
    {
        auto device = addInstrument();
        device->model().setPort(5025);
        start();
        QCOMPARE(harness->connectUsb(), Model);
        device->clearRecords();

        QElapsedTimer clock;
        clock.start();
        emit harness->probe().query(QString(), MODE_NETWORK);
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.size(), 3, AnswerMs);
        // 100 ms between each query and its reply and between a reply and the next query.
        QVERIFY(clock.elapsed() >= 7 * testTimings().usbNetworkReadPauseMs);
        QCOMPARE(harness->events.last(), QString("net 127.0.0.1,255.0.0.0,127.0.0.1,5025"));
        QCOMPARE(device->commands(),
                 (QList<QByteArray>{"enet:ip?", "enet:gateway?", "enet:submask?", "enet:port?"}));
    }

    void initRoutine_data()
    {
        QTest::addColumn<QString>(
            "file"); // "none", "unwritable", or "SIM" or "FREED", the port it names
        QTest::addColumn<bool>("usb");
        QTest::addColumn<QByteArray>("failReplyTo");
        QTest::addColumn<QByteArray>("stopAt");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("trace");
        QTest::addColumn<QByteArray>("finalFile");

        const QString net = "net 127.0.0.1,255.0.0.0,127.0.0.1,SIM";
        const QByteArray fromInstrument = "127.0.0.1\n255.0.0.0\n127.0.0.1\nSIM\n";
        const QByteArray stale = "127.0.0.1\n255.255.255.0\n127.0.0.1\nFREED\n";
        const QByteArray defaults = "255.255.255.255\n255.255.255.255\n255.255.255.255\n65535\n";

        QTest::newRow("file reaches the instrument")
            << "SIM" << true << QByteArray() << QByteArray()
            << QStringList{"status 01", "usb M", "status 11", "tcp M"}
            << QStringList{"file exists. trying to connect Tcp", "connectTCP()"}
            << QByteArray("127.0.0.1\n255.255.255.0\n127.0.0.1\nSIM\n");
        QTest::newRow("stale file, USB instrument")
            << "FREED" << true << QByteArray() << QByteArray()
            << QStringList{"status 01", "usb M", "status 01", "tcp -2", net, "status 11", "tcp M"}
            << QStringList{"file exists. trying to connect Tcp",
                           "Tcp connection failed",
                           "USB connected. trying to read network settings.",
                           "saving network settings",
                           "127.0.0.1",
                           "connecting tcp",
                           "connectTCP()"}
            << fromInstrument;
        QTest::newRow("stale file, no USB")
            << "FREED" << false << QByteArray() << QByteArray()
            << QStringList{"status 00", "usb -2", "status 00", "tcp -2"}
            << QStringList{"file exists. trying to connect Tcp", "Tcp connection failed"} << stale;
        QTest::newRow("stale file, USB read fails")
            << "FREED" << true << QByteArray("enet:gateway?") << QByteArray()
            << QStringList{"status 01", "usb M", "status 01", "tcp -2", "status 01", "tcp -2"}
            << QStringList{"Tcp connection failed",
                           "USB connected. trying to read network settings.", "connecting tcp"}
            << stale;
        QTest::newRow("no file, USB instrument")
            << "none" << true << QByteArray() << QByteArray()
            << QStringList{"status 01", "usb M", net, "status 11", "tcp M"}
            << QStringList{"File does not exist.", "USB Connected. Reading network settings.",
                           "Saving network settings", "attempting to connect tcp", "connectTCP()"}
            << fromInstrument;
        QTest::newRow("no file, no USB")
            << "none" << false << QByteArray() << QByteArray() << QStringList{"status 00", "usb -2"}
            << QStringList{"File does not exist.", "usb not connected"} << defaults;
        // The panel closes while the USB probe asks the instrument who it
        // is: the worker ends, and writes no file on its way out.
        QTest::newRow("no file, closing during the USB probe")
            << "none" << true << QByteArray() << QByteArray("*IDN?")
            << QStringList{"status 00", "usb -2"} << QStringList{"File does not exist."}
            << QByteArray("(no file)");
#ifdef Q_OS_UNIX
        // A settings file whose folder cannot take it (root writes anywhere,
        // so a link into a missing folder stands in for a read-only one).
        QTest::newRow("no file, cannot be created")
            << "unwritable" << false << QByteArray() << QByteArray()
            << QStringList{"status 00", "usb -2", "file not written"}
            << QStringList{"File does not exist.", "Network settings file could not be written",
                           "usb not connected"}
            << QByteArray("(no file)");
#endif
    }

    void initRoutine()
    {
        QFETCH(QString, file);
        QFETCH(bool, usb);
        QFETCH(QByteArray, failReplyTo);
        QFETCH(QByteArray, stopAt);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, trace);
        QFETCH(QByteArray, finalFile);

        const QByteArray simPort = QByteArray::number(sim->port());
        const QByteArray unused = QByteArray::number(unusedLoopbackPort());
        if (file == "unwritable")
            QVERIFY(QFile::link("no-such-folder/ipdata.vnf", "ipdata.vnf"));
        else if (file != "none")
            TestWorkdir::writeSettings(Host, file == "SIM" ? sim->port() : unused.toInt());
        port = std::make_unique<FaultyReadPort>(failReplyTo, 0, stopAt);
        if (usb)
            addInstrument()->model().setPort(sim->port());
        expected.replaceInStrings("SIM", simPort);
        expected.replaceInStrings(QRegularExpression(" M$"), " " + Model);
        finalFile.replace("SIM", simPort).replace("FREED", unused);

        MessageLog debug;
        emit start().initConn();
        QTRY_COMPARE_WITH_TIMEOUT(harness->events.size(), expected.size(), AnswerMs);
        QCOMPARE(harness->events, expected);
        QTRY_VERIFY_WITH_TIMEOUT(inOrder(debug.lines(), trace), AnswerMs);
        // The routine has ended once its worker has.
        harness.reset();
        QCOMPARE(TestWorkdir::settings(), finalFile);
    }
};

QTEST_GUILESS_MAIN(UsbLinkTest)
#include "tst_usblink.moc"
