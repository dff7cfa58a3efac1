// usbConnection over the VISA backend and the test VISA library, talking to
// the instrument simulator: gating, text conversion and the module inventory.
#include "messagelog.h"
#include "sim/simserver.h"
#include "testworkdir.h"
#include "usb/usbconnection.h"
#include "usb/visabackend.h"

#include <QtTest>
#include <cstring>
#include <memory>

namespace
{

const char resource[] = "USB0::0x2012::0x4417::SN0001::INSTR";

// A backend that claims more bytes than it was asked for.
class OverreportingBackend : public UsbCommBackend
{
public:
    int setupBackend() override { return 0; }
    void teardownBackend() override {}
    int openDevice(const QString &) override { return 0; }
    int closeDevice() override { return 0; }
    int write(const char *, int length) override { return length; }
    int read(char *buffer, int maximum) override
    {
        std::memset(buffer, 'x', size_t(maximum));
        return maximum + 45;
    }
    void getAttribute(const unsigned *, int *) override {}
    void setAttribute(const unsigned *, int) override {}
    void setReadBufferSize(int) override {}
    QPair<int, QStringList> findDevices() override { return {0, {}}; }
    bool isAvailable() override { return true; }
};

QStringList portQueries(int port)
{
    const QString n = QString::number(port);
    return {"SYST:SENDSTR:" + n + " \"*IDN?\"", "SYST:READSTR:" + n + "?",
            "SYST:FIRMID:" + n + "?"};
}

// The queries of an inventory that reads `ports`, then the LCD and the FPGA.
QStringList inventoryQueries(const QList<int> &ports)
{
    QStringList queries{"*IDN?", "SYST:FIRMID?", "SYST:MODU?"};
    for (int port : ports)
        queries << portQueries(port);
    return queries << "LCD:LCD?"
                   << "LCD:SERNUM?"
                   << "LCD:VERS?"
                   << "SYST:ALTERA?";
}

// What the inventory records of one module, to check in one comparison.
QStringList record(const ModuleInfo &module)
{
    return {module.address,      module.manufacturer, module.model,
            module.serialNumber, module.version,      module.firmwareId};
}

QStringList names(const QList<ModuleInfo *> &modules)
{
    QStringList list;
    for (const ModuleInfo *module : modules)
        list << module->name;
    return list;
}

} // namespace

class TestUsbConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void prefersTheVisaBackend();
    void setupAndTeardownNeverOverlapAcrossThreads();
    void refusesTrafficUntilOpened();
    void openRecordsTheResource();
    void sendsCommandTextAsIs();
    void readStopsTextAtNulButCountsEveryByte();
    void readNeverExceedsItsBuffer();
    void identifiesFullyPopulatedInstrument();
    void queriesOnlyPortsOfTheMask_data();
    void queriesOnlyPortsOfTheMask();
    void badIdentityStopsTheInventory_data();
    void badIdentityStopsTheInventory();
    void badModuleAnswerLeavesPlaceholder();
    void noLcdStillQueriesFpga();
    void failedLcdSerialStopsBeforeFpga();
    void inventoryAppendsUntilCleared();

private:
    // A simulator with `config`, and a connection with that instrument open.
    void openInstrument(const InstrumentModel::Config &config = {});

    std::unique_ptr<TestWorkdir> workdir;
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<usbConnection> connection;
};

void TestUsbConnection::init()
{
    workdir = std::make_unique<TestWorkdir>();
    qunsetenv("FAKEVISA_INSTRUMENTS");
    qunsetenv("FAKEVISA_WRITE_WARNING");
    qputenv("FAKEVISA_READ_TIMEOUT_MS", "2000");
    qunsetenv("FAKEVISA_TRACE");
    qunsetenv("FAKEVISA_SETUP_WAIT_MS");
}

void TestUsbConnection::cleanup()
{
    connection.reset();
    sim.reset();
    workdir.reset();
}

void TestUsbConnection::openInstrument(const InstrumentModel::Config &config)
{
    // Both exist before the first check, so a failing check cannot leave them null.
    sim = std::make_unique<SimServer>(config);
    connection = std::make_unique<usbConnection>();
    QVERIFY(sim->start(0));
    qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(sim->port()));
    QCOMPARE(connection->setupVISA(), 0);
    QCOMPARE(connection->findDevices(), qMakePair(1, QStringList{resource}));
    QCOMPARE(connection->openDevice(resource), 0);
}

void TestUsbConnection::prefersTheVisaBackend()
{
    usbConnection connection;
    QVERIFY(dynamic_cast<const VisaBackend *>(connection.backend()));
}

void TestUsbConnection::setupAndTeardownNeverOverlapAcrossThreads()
{
    const QString tracePath = workdir->path() + "/visa-calls.txt";
    qputenv("FAKEVISA_TRACE", tracePath.toLocal8Bit());
    // Each resource-manager call takes a while, so calls that are not kept
    // apart overlap and the library traces it.
    qputenv("FAKEVISA_SETUP_WAIT_MS", "5");
    usbConnection first;
    usbConnection second;
    QAtomicInt failures;
    auto cycle = [&failures](usbConnection *connection) {
        for (int i = 0; i < 10; ++i) {
            if (connection->setupVISA() != 0)
                failures.ref();
            connection->teardownVISA();
        }
    };
    std::unique_ptr<QThread> one(QThread::create(cycle, &first));
    std::unique_ptr<QThread> two(QThread::create(cycle, &second));
    one->start();
    two->start();
    QVERIFY(one->wait(10000));
    QVERIFY(two->wait(10000));

    QCOMPARE(failures.loadRelaxed(), 0);
    QFile file(tracePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList calls = QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(calls.count("viOpenDefaultRM"), 20);
    QCOMPARE(calls.count("viClose resource-manager"), 20);
    QCOMPARE(calls.count("overlapping resource-manager calls"), 0);
}

void TestUsbConnection::refusesTrafficUntilOpened()
{
    sim = std::make_unique<SimServer>();
    QVERIFY(sim->start(0));
    qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(sim->port()));
    usbConnection connection;
    QCOMPARE(connection.setupVISA(), 0);
    QCOMPARE(connection.sendCommand("*IDN?"), -1);
    QCOMPARE(connection.sendCommandBytes("*IDN?"), -1);
    QCOMPARE(connection.readResponse(), qMakePair(-1, QString()));
    QCOMPARE(connection.readResponseBytes(), qMakePair(-1, QByteArray()));

    QCOMPARE(connection.openDevice(resource), 0);
    QCOMPARE(connection.sendCommand("*IDN?"), 5);
    QCOMPARE(connection.closeDevice(), 0);
    QCOMPARE(connection.sendCommand("SYST:FIRMID?"), -1);
    QCOMPARE(connection.readResponse().first, -1);

    // setupVISA also closes the gate.
    QCOMPARE(connection.openDevice(resource), 0);
    QCOMPARE(connection.setupVISA(), 0);
    QCOMPARE(connection.sendCommand("SYST:FIRMID?"), -1);
    QTRY_COMPARE(sim->receivedLines(), QStringList{"*IDN?"});
    connection.teardownVISA();
}

void TestUsbConnection::openRecordsTheResource()
{
    openInstrument();
    QCOMPARE(connection->deviceInfo.address, QString(resource));
    QCOMPARE(connection->deviceInfo.name, QString(resource));
    QCOMPARE(connection->deviceInfo.model, QString("Unknown"));

    // A failed open still resets the record and leaves the device closable.
    QCOMPARE(connection->openDevice("USB0::0x2012::0x4417::SN0404::INSTR"), -1);
    QCOMPARE(connection->deviceInfo.address, QString("-1"));
    QCOMPARE(connection->deviceInfo.name, QString("Unknown"));
}

void TestUsbConnection::sendsCommandTextAsIs()
{
    openInstrument();
    QCOMPARE(connection->sendCommand("freq:tune 12.5000"), 17);
    QCOMPARE(connection->sendCommandBytes("SYST:FIRMID?"), 12);
    QTRY_COMPARE(sim->receivedLines(), QStringList({"freq:tune 12.5000", "SYST:FIRMID?"}));
    // The instrument's line end stays in the text.
    QCOMPARE(connection->readResponse(), qMakePair(5, QString("0042\n")));

    qputenv("FAKEVISA_WRITE_WARNING", "1");
    QCOMPARE(connection->sendCommand("freq:tune 13.0000"), -1);
    QCOMPARE(connection->sendCommandBytes("freq:tune 13.0000"), -1);
}

void TestUsbConnection::readStopsTextAtNulButCountsEveryByte()
{
    openInstrument();
    sim->setReply("SYST:NUL?", QByteArray("AB\0CD", 5));
    QVERIFY(connection->sendCommand("SYST:NUL?") >= 0);
    QCOMPARE(connection->readResponse(), qMakePair(6, QString("AB")));
    QVERIFY(connection->sendCommand("SYST:NUL?") >= 0);
    QCOMPARE(connection->readResponseBytes(), qMakePair(6, QByteArray("AB\0CD\n", 6)));
}

void TestUsbConnection::readNeverExceedsItsBuffer()
{
    usbConnection connection(new OverreportingBackend);
    QCOMPARE(connection.openDevice("anything"), 0);
    MessageLog log;
    const QPair<int, QString> text = connection.readResponse();
    QCOMPARE(text.first, 255);
    QCOMPARE(text.second, QString(255, 'x'));
    QCOMPARE(connection.readResponseBytes(), qMakePair(255, QByteArray(255, 'x')));
    QCOMPARE(log.count("USB backend returned 300 bytes for a read of at most 255; cut"), 2);
}

void TestUsbConnection::identifiesFullyPopulatedInstrument()
{
    InstrumentModel::Config config;
    config.modules[2].idn = "Ostrelin,KX4417-PM2,PM0333,1.2.0";
    config.modules[2].firmwareId = "0102";
    openInstrument(config);
    connection->identifyModules();

    QCOMPARE(connection->deviceInfo.name, QString(resource));
    QCOMPARE(record(connection->deviceInfo),
             QStringList({resource, "Ostrelin", "KX4417-UDC", "SN000123", "2.4.1", "0042\n"}));

    const QList<ModuleInfo *> &modules = connection->moduleList;
    QCOMPARE(names(modules), QStringList({"Port 0", "Port 1", "Port 2", "Port 3", "LCD Micro",
                                          "LCD Screen", "Altera FPGA"}));
    QCOMPARE(record(*modules.at(2)),
             QStringList({"2", "Ostrelin", "KX4417-PM2", "PM0333", "1.2.0", "0102\n"}));
    QCOMPARE(record(*modules.at(4)),
             QStringList({"11", "Ostrelin", "LCD Micro", "LCD0007", "1.3", "0002"}));
    QCOMPARE(record(*modules.at(5)),
             QStringList({"10", "Ostrelin", "LCD Screen", "LCD0007", "1.3", "0003"}));
    QCOMPARE(record(*modules.at(6)),
             QStringList({"12", "Ostrelin", "Altera FPGA", "SN000123", "2.4.1", "5"}));
    QCOMPARE(sim->receivedLines(), inventoryQueries({0, 1, 2, 3}));
}

void TestUsbConnection::queriesOnlyPortsOfTheMask_data()
{
    QTest::addColumn<QByteArray>("maskReply");
    QTest::addColumn<QList<int>>("ports");
    QTest::newRow("ports 0 and 2") << QByteArray("5") << QList<int>{0, 2};
    QTest::newRow("none") << QByteArray("0") << QList<int>{};
    QTest::newRow("not a number") << QByteArray("ALL") << QList<int>{};
    QTest::newRow("bit 4 only") << QByteArray("16") << QList<int>{};
    QTest::newRow("bits above 3 ignored") << QByteArray(" 26 ") << QList<int>{1, 3};
}

void TestUsbConnection::queriesOnlyPortsOfTheMask()
{
    QFETCH(QByteArray, maskReply);
    QFETCH(QList<int>, ports);
    openInstrument();
    sim->setReply("SYST:MODU?", maskReply);
    connection->identifyModules();

    QStringList expectedNames;
    for (int port : ports)
        expectedNames << QString("Port %1").arg(port);
    expectedNames << "LCD Micro"
                  << "LCD Screen"
                  << "Altera FPGA";
    QCOMPARE(sim->receivedLines(), inventoryQueries(ports));
    QCOMPARE(names(connection->moduleList), expectedNames);
}

void TestUsbConnection::badIdentityStopsTheInventory_data()
{
    QTest::addColumn<QString>("idn");
    QTest::newRow("three fields") << "Ostrelin,KX4417-UDC,SN000123";
    QTest::newRow("five fields") << "Ostrelin,KX4417-UDC,SN000123,2.4.1,extra";
}

void TestUsbConnection::badIdentityStopsTheInventory()
{
    QFETCH(QString, idn);
    InstrumentModel::Config config;
    config.idn = idn;
    openInstrument(config);
    connection->identifyModules();

    QCOMPARE(sim->receivedLines(), QStringList{"*IDN?"});
    QCOMPARE(record(connection->deviceInfo),
             QStringList({resource, "Unknown", "Unknown", "Unknown", "Unknown", "-1"}));
    QVERIFY(connection->moduleList.isEmpty());
}

void TestUsbConnection::badModuleAnswerLeavesPlaceholder()
{
    InstrumentModel::Config config;
    config.moduleMask = 3;
    config.modules[0].idn = "Ostrelin,KX4417-PM";
    openInstrument(config);
    connection->identifyModules();

    QStringList expected{"*IDN?", "SYST:FIRMID?", "SYST:MODU?"};
    expected << portQueries(0).mid(0, 2) << portQueries(1);
    QCOMPARE(sim->receivedLines().mid(0, expected.size()), expected);

    const QList<ModuleInfo *> &modules = connection->moduleList;
    QCOMPARE(names(modules).mid(0, 2), QStringList({"Unknown", "Port 1"}));
    QCOMPARE(record(*modules.at(0)),
             QStringList({"-1", "Unknown", "Unknown", "Unknown", "Unknown", "-1"}));
    QCOMPARE(modules.at(1)->model, QString("KX4417-PM"));
}

void TestUsbConnection::noLcdStillQueriesFpga()
{
    InstrumentModel::Config config;
    config.lcdFitted = 0;
    openInstrument(config);
    sim->setReply("SYST:MODU?", "0");
    connection->identifyModules();

    QCOMPARE(sim->receivedLines(),
             QStringList({"*IDN?", "SYST:FIRMID?", "SYST:MODU?", "LCD:LCD?", "SYST:ALTERA?"}));
    QCOMPARE(names(connection->moduleList), QStringList{"Altera FPGA"});
}

void TestUsbConnection::failedLcdSerialStopsBeforeFpga()
{
    openInstrument();
    sim->setReply("SYST:MODU?", "0");
    sim->setFault(SimServer::Fault::NoReply, 0, "LCD:SERNUM?");
    // A short time-out, so the read of the unanswered query fails quickly.
    const unsigned timeout = VI_ATTR_TMO_VALUE;
    connection->setAttribute(&timeout, 100);
    connection->identifyModules();

    QCOMPARE(sim->receivedLines(),
             QStringList({"*IDN?", "SYST:FIRMID?", "SYST:MODU?", "LCD:LCD?", "LCD:SERNUM?"}));
    QCOMPARE(names(connection->moduleList), QStringList{"Unknown"});
    QCOMPARE(connection->moduleList.at(0)->address, QString("-1"));
}

void TestUsbConnection::inventoryAppendsUntilCleared()
{
    openInstrument();
    sim->setReply("SYST:MODU?", "1");
    connection->identifyModules();
    connection->identifyModules();
    QCOMPARE(connection->moduleList.size(), 8);

    // The record survives closing; clearing or reopening resets it.
    QCOMPARE(connection->closeDevice(), 0);
    QCOMPARE(connection->deviceInfo.model, QString("KX4417-UDC"));
    connection->clearDeviceInfo();
    QVERIFY(connection->moduleList.isEmpty());
    QCOMPARE(connection->deviceInfo.model, QString("Unknown"));
}

QTEST_GUILESS_MAIN(TestUsbConnection)
#include "tst_usbconnection.moc"
