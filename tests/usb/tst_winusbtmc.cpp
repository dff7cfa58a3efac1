#include "messagelog.h"
#include "simulatedusbtmcport.h"
#include "winusbtmc.h"

#include <QtTest>
#include <cstring>
#include <functional>

namespace
{

const std::string devicePath = "\\\\?\\usb#vid_2012&pid_0001#sn000123#{a9fdbb24}";

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The log lines that close every enumeration.
const QStringList enumerationEnd{"Enumeration done", "0x103",
                                 "For comparison, the expected value is 0x103", "Finished"};

quint32 transferSizeOf(const QByteArray &frame)
{
    return qFromLittleEndian<quint32>(frame.constData() + 4);
}

// A backend on a simulated bus with one instrument, already opened.
struct Bench {
    Bench()
    {
        auto owned = std::make_unique<SimulatedUsbTmcPort>();
        port = owned.get();
        device = port->addDevice(devicePath);
        backend = std::make_unique<WinUSBTMC>(std::move(owned));
    }
    bool open() { return backend->openDevice(QString::fromStdString(devicePath)) == 0; }
    int send(const QByteArray &command)
    {
        return backend->write(command.constData(), command.size());
    }
    QByteArray query(const QByteArray &command, int maximum = 255)
    {
        if (send(command) < 0)
            return "<write failed>";
        QByteArray reply(maximum, '\0');
        const int got = backend->read(reply.data(), maximum);
        return got < 0 ? QByteArray("<read failed>") : reply.left(got);
    }

    SimulatedUsbTmcPort *port;
    std::shared_ptr<SimulatedUsbTmcDevice> device;
    std::unique_ptr<WinUSBTMC> backend;
};

} // namespace

// A fault set on the simulated bus.
using BusFault = std::function<void(SimulatedUsbTmcPort &)>;

Q_DECLARE_METATYPE(SimulatedUsbTmcDevice::ReplyFault)
Q_DECLARE_METATYPE(BusFault)

class TestWinUsbTmc : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandFrames_data();
    void commandFrames();
    void queryRoundTrip();
    void emptyReply();
    void tagsWrapAfter255AndRestartOnOpen();
    void replyValidation_data();
    void replyValidation();
    void oversizeReplyIsCutToTheCallersMaximum();
    void lateReplyDoesNotShiftLaterReplies();
    void transfersArePausedApart();
    void transportFailures_data();
    void transportFailures();
    void openAndClose();
    void badArgumentsAreRefused();
    void enumerationListsOnlyOurInstruments();
    void enumerationWithoutDevices_data();
    void enumerationWithoutDevices();
    void enumerationStepFailures();

private:
    // Every case but the enumerations starts with its instrument open.
    std::unique_ptr<Bench> bench;
};

void TestWinUsbTmc::init()
{
    bench = std::make_unique<Bench>();
    QVERIFY(bench->open());
}

void TestWinUsbTmc::cleanup()
{
    bench.reset();
}

void TestWinUsbTmc::commandFrames_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("result");

    QTest::newRow("5 bytes, 3 alignment bytes")
        << QByteArray("*IDN?") << hex("0101fe0005000000010000002a49444e3f000000") << 20;
    QTest::newRow("8 bytes, aligned")
        << QByteArray("LCD:LCD?") << hex("0101fe0008000000010000004c43443a4c43443f") << 20;
    QTest::newRow("1 byte") << QByteArray("?") << hex("0101fe0001000000010000003f000000") << 16;
}

void TestWinUsbTmc::commandFrames()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, frame);
    QFETCH(int, result);

    QCOMPARE(bench->send(command), result);

    QCOMPARE(bench->device->outFrames(), QList<QByteArray>{frame});
    QCOMPARE(bench->device->commands(), QList<QByteArray>{command});
    QCOMPARE(bench->device->violations(), QStringList());
}

void TestWinUsbTmc::queryRoundTrip()
{

    QCOMPARE(bench->query("*IDN?"), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));

    // The read request carries the next tag and asks for the caller's maximum.
    QCOMPARE(bench->device->outFrames().size(), 2);
    QCOMPARE(bench->device->outFrames().at(1), hex("0202fd00ff00000000000000"));
    QCOMPARE(bench->backend->nextTag(), quint8(3));

    // A reply longer than the maximum arrives in pieces, one per read.
    bench->device->model().config().idn = QString(300, 'A');
    QCOMPARE(bench->query("*IDN?"), QByteArray(255, 'A'));
    QByteArray rest(255, '\0');
    QCOMPARE(bench->backend->read(rest.data(), 255), 46);
    QCOMPARE(rest.left(46), QByteArray(45, 'A') + '\n');
    QCOMPARE(bench->device->violations(), QStringList());
}

void TestWinUsbTmc::emptyReply()
{
    bench->device->setLineFeed(false);
    // The module answer is empty when nothing was forwarded to the module.
    QVERIFY(bench->send("SYST:READSTR:0?") > 0);

    char buffer[255];
    QCOMPARE(bench->backend->read(buffer, 255), 0);
    QCOMPARE(bench->device->inFrames().size(), 1);
    QCOMPARE(bench->device->inFrames().at(0).size(), 12);
    QCOMPARE(transferSizeOf(bench->device->inFrames().at(0)), 0u);
}

void TestWinUsbTmc::tagsWrapAfter255AndRestartOnOpen()
{
    MessageLog quiet;
    for (int i = 0; i < 256; ++i)
        QCOMPARE(bench->send("LCD:LCD?"), 20);

    const QList<QByteArray> frames = bench->device->outFrames();
    QCOMPARE(frames.size(), 256);
    for (int i = 0; i < 255; ++i)
        QCOMPARE(quint8(frames.at(i).at(1)), quint8(i + 1));
    QCOMPARE(quint8(frames.at(255).at(1)), quint8(1));
    QCOMPARE(bench->backend->nextTag(), quint8(2));
    QCOMPARE(bench->device->violations(), QStringList());

    QCOMPARE(bench->backend->closeDevice(), 0);
    QVERIFY(bench->open());
    QCOMPARE(bench->backend->nextTag(), quint8(1));
}

void TestWinUsbTmc::replyValidation_data()
{
    QTest::addColumn<SimulatedUsbTmcDevice::ReplyFault>("fault");
    QTest::addColumn<QStringList>("log");
    using F = SimulatedUsbTmcDevice::ReplyFault;
    QTest::newRow("short frame") << F::ShortFrame << QStringList{"Read data not long enough"};
    QTest::newRow("wrong MsgID") << F::WrongMsgId << QStringList{"Read packet looks invalid"};
    // Taken for a reply to an earlier read: dropped, and nothing else comes.
    QTest::newRow("wrong tag") << F::WrongTag
                               << QStringList{"Reply with bTag 3 does not answer this read "
                                              "(bTag 2); discarded",
                                              "Error Reading from USB device", "121"};
    QTest::newRow("bad complement") << F::BadComplement << QStringList{"Read packet looks invalid"};
    QTest::newRow("size beyond data")
        << F::SizeBeyondData << QStringList{"Read data not long enough after processing size"};
    QTest::newRow("size near 4 GiB")
        << F::HugeSize << QStringList{"Read data not long enough after processing size"};
}

void TestWinUsbTmc::replyValidation()
{
    QFETCH(SimulatedUsbTmcDevice::ReplyFault, fault);
    QFETCH(QStringList, log);
    QVERIFY(bench->send("*IDN?") > 0);
    bench->device->setReplyFault(fault);

    QByteArray buffer(255, 'x');
    MessageLog capture;
    QCOMPARE(bench->backend->read(buffer.data(), 255), -1);
    QCOMPARE(capture.lines(), log);
    QCOMPARE(buffer, QByteArray(255, 'x'));

    // Nothing is retried or reset: the next exchange goes on with the next tag.
    QCOMPARE(bench->backend->nextTag(), quint8(3));
    QCOMPARE(bench->query("*IDN?"), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
    QCOMPARE(bench->device->violations(), QStringList());
}

void TestWinUsbTmc::oversizeReplyIsCutToTheCallersMaximum()
{
    bench->device->model().config().idn = QString(300, 'B');
    QVERIFY(bench->send("*IDN?") > 0);
    bench->device->setReplyFault(SimulatedUsbTmcDevice::ReplyFault::SizeBeyondRequest);

    // The caller's buffer is exactly its maximum, followed by a guard area.
    QByteArray memory(255 + 16, 'G');
    MessageLog capture;
    QCOMPARE(bench->backend->read(memory.data(), 255), 255);
    QCOMPARE(transferSizeOf(bench->device->inFrames().last()), 256u);
    QCOMPARE(memory.left(255), QByteArray(255, 'B'));
    QCOMPARE(memory.mid(255), QByteArray(16, 'G'));
    QCOMPARE(capture.lines(), QStringList{"Reply of 256 bytes cut to the 255 bytes asked for"});
}

void TestWinUsbTmc::lateReplyDoesNotShiftLaterReplies()
{
    bench->device->setReplyFault(SimulatedUsbTmcDevice::ReplyFault::Late);
    MessageLog capture;
    QCOMPARE(bench->query("*IDN?"), QByteArray("<read failed>"));

    // The *IDN? reply (bTag 2) now waits ahead of the one this query asks for.
    capture.clear();
    QCOMPARE(bench->query("SYST:FIRMID?"), QByteArray("0042\n"));
    QCOMPARE(capture.lines(),
             QStringList{"Reply with bTag 2 does not answer this read (bTag 4); discarded"});
    QCOMPARE(bench->query("LCD:LCD?"), QByteArray("1\n"));
    QCOMPARE(bench->device->violations(), QStringList());
}

// The driver needs 10 ms of quiet before and after every transfer, so two
// transfers are never less than 20 ms apart, a discarded late reply included.
void TestWinUsbTmc::transfersArePausedApart()
{
    MessageLog quiet;
    bench->device->setReplyFault(SimulatedUsbTmcDevice::ReplyFault::Late);
    bench->query("*IDN?");
    QCOMPARE(bench->query("SYST:FIRMID?"), QByteArray("0042\n"));

    const QList<qint64> times = bench->device->transferTimes();
    QCOMPARE(times.size(), 7);
    for (int i = 1; i < times.size(); ++i) {
        const qint64 gap = times.at(i) - times.at(i - 1);
        QVERIFY2(
            gap >= 20'000'000,
            qPrintable(
                QString("transfers %1 and %2 are %3 us apart").arg(i - 1).arg(i).arg(gap / 1000)));
    }
}

void TestWinUsbTmc::transportFailures_data()
{
    QTest::addColumn<BusFault>("fault");
    QTest::addColumn<int>("writeResult");
    QTest::addColumn<int>("readResult");
    QTest::addColumn<QStringList>("log");

    using P = SimulatedUsbTmcPort;
    QTest::newRow("command not written") << BusFault([](P &p) { p.setWriteError(31); }) << -1 << -1
                                         << QStringList{"Error Writing to USB device during send",
                                                        "31", "Error Writing to USB device", "31"};
    QTest::newRow("command cut short") << BusFault([](P &p) { p.setWriteLimit(12); }) << -2 << -1
                                       << QStringList{"Wrong number of bytes written", "12",
                                                      "Error Reading from USB device", "121"};
    QTest::newRow("read request cut short") << BusFault([](P &p) {
        p.setWriteLimit(8);
        p.setWriteLimitOnReadRequests(true);
    }) << 20 << -1 << QStringList{"Couldn't send the right number of bytes"};
    QTest::newRow("bulk-IN fails") << BusFault([](P &p) { p.setReadError(1167); }) << 20 << -1
                                   << QStringList{"Error Reading from USB device", "1167"};
}

void TestWinUsbTmc::transportFailures()
{
    QFETCH(BusFault, fault);
    QFETCH(int, writeResult);
    QFETCH(int, readResult);
    QFETCH(QStringList, log);
    fault(*bench->port);

    MessageLog capture;
    QCOMPARE(bench->backend->write("*IDN?", 5), writeResult);
    char buffer[255];
    QCOMPARE(bench->backend->read(buffer, 255), readResult);
    QCOMPARE(capture.lines(), log);
    // Failed transfers use up their tags all the same.
    QCOMPARE(bench->backend->nextTag(), quint8(3));
}

void TestWinUsbTmc::openAndClose()
{
    Bench closed;
    auto second = closed.port->addDevice("usb:second");
    MessageLog capture;

    QCOMPARE(closed.backend->openDevice("no such device"), -1);
    QCOMPARE(capture.lines(), (QStringList{"Error on handle open", "2"}));

    // Opening another device releases the one still open.
    capture.clear();
    QVERIFY(closed.open());
    QCOMPARE(closed.backend->openDevice("usb:second"), 0);
    QVERIFY(!closed.device->isOpen());
    QVERIFY(second->isOpen());
    QCOMPARE(capture.lines(), QStringList{"Closing the device that is still open"});

    capture.clear();
    QCOMPARE(closed.backend->closeDevice(), 0);
    QVERIFY(!second->isOpen());
    QCOMPARE(closed.backend->closeDevice(), -1);
    QCOMPARE(capture.lines(), (QStringList{"Error closing file handle", "6"}));

    // A failing close still leaves the handle closed.
    QVERIFY(closed.open());
    closed.port->setCloseError(5);
    capture.clear();
    QCOMPARE(closed.backend->closeDevice(), -1);
    QCOMPARE(capture.lines(), (QStringList{"Error closing file handle", "5"}));
    QVERIFY(!closed.port->isOpen());

    capture.clear();
    QCOMPARE(closed.backend->write("*IDN?", 5), -1);
    QCOMPARE(capture.lines(), (QStringList{"Error Writing to USB device during send", "6"}));
}

void TestWinUsbTmc::badArgumentsAreRefused()
{
    MessageLog capture;
    QCOMPARE(bench->backend->write(nullptr, 4), -1);
    QCOMPARE(bench->backend->write("abc", -1), -1);
    char buffer[4];
    QCOMPARE(bench->backend->read(buffer, -5), -1);
    QCOMPARE(bench->backend->read(nullptr, 255), -1);
    QCOMPARE(capture.lines().size(), 4);
    QVERIFY(bench->device->outFrames().isEmpty());
    QCOMPARE(bench->backend->nextTag(), quint8(1));
}

void TestWinUsbTmc::enumerationListsOnlyOurInstruments()
{
    auto owned = std::make_unique<SimulatedUsbTmcPort>();
    SimulatedUsbTmcPort *port = owned.get();
    WinUSBTMC backend(std::move(owned));

    const QStringList answers = {
        "Ostrelin,KX4417-UDC,SN000123,2.4.1",     "Ostrelin,KX4417-UDC,SN000124",
        "OSTRELIN,KX4417-UDC,SN000125,2.4.1",     "ostrelin,KX4417-UDC,SN000126,2.4.1",
        "Ostrelin ,KX4417-UDC,SN000127,2.4.1",    "Ostrelin,KX4417-UDC,SN000128,2.4.1,extra",
        "  Ostrelin,KX4417-UDC,SN000129,2.4.1  ", "Ostrelin,,,"};
    QList<std::shared_ptr<SimulatedUsbTmcDevice>> devices;
    for (int i = 0; i < answers.size(); ++i) {
        InstrumentModel::Config config;
        config.idn = answers.at(i);
        devices << port->addDevice("dev" + std::to_string(i), config);
    }
    auto unopenable = port->addDevice("dev-busy");
    unopenable->setOpenError(32);
    auto silent = port->addDevice("dev-silent");
    silent->model().config().idn = QString();
    silent->setLineFeed(false);

    MessageLog capture;
    const QPair<int, QStringList> found = backend.findDevices();

    QCOMPARE(found.first, 3);
    QCOMPARE(found.second, (QStringList{"dev0", "dev6", "dev7"}));
    QCOMPARE(capture.lines().count("It's an KVX device"), 3);
    QCOMPARE(capture.lines().count("Error opening that handle"), 1);
    QVERIFY(!port->isOpen());
    for (const auto &device : devices) {
        QVERIFY(!device->isOpen());
        QCOMPARE(device->commands(), QList<QByteArray>{"*IDN?\n"});
        QCOMPARE(device->violations(), QStringList());
    }
    QVERIFY(unopenable->outFrames().isEmpty());
    QCOMPARE(capture.lines().mid(capture.lines().size() - 4), enumerationEnd);

    // Each found path opens the instrument again.
    QCOMPARE(backend.openDevice(found.second.at(1)), 0);
    QVERIFY(devices.at(6)->isOpen());
}

void TestWinUsbTmc::enumerationWithoutDevices_data()
{
    QTest::addColumn<bool>("systemPort");
    QTest::newRow("simulated bus") << false;
#ifdef Q_OS_WIN
    // SetupAPI and CreateFile themselves, on a system without instruments.
    QTest::newRow("Windows' USBTMC driver") << true;
#endif
}

void TestWinUsbTmc::enumerationWithoutDevices()
{
    QFETCH(bool, systemPort);
    auto backend = systemPort
                       ? std::make_unique<WinUSBTMC>()
                       : std::make_unique<WinUSBTMC>(std::make_unique<SimulatedUsbTmcPort>());
    MessageLog capture;
    const QPair<int, QStringList> found = backend->findDevices();
    QCOMPARE(found.first, 0);
    QVERIFY(found.second.isEmpty());
    QCOMPARE(capture.lines(), enumerationEnd);
    QVERIFY(backend->openDevice(QString::fromStdString(devicePath)) != 0);
}

void TestWinUsbTmc::enumerationStepFailures()
{
    auto owned = std::make_unique<SimulatedUsbTmcPort>();
    SimulatedUsbTmcPort *port = owned.get();
    WinUSBTMC backend(std::move(owned));
    using L = SimulatedUsbTmcDevice::ListingFault;
    port->addDevice("a")->setListingFault(L::DetailSizeSucceeds);
    port->addDevice("b")->setListingFault(L::DetailSizeFails);
    port->addDevice("c")->setListingFault(L::DetailPathFails);
    port->addDevice("d");
    port->setDestroyFails(true);

    MessageLog capture;
    QPair<int, QStringList> found = backend.findDevices();
    QCOMPARE(found.first, 1);
    QCOMPARE(found.second, QStringList{"d"});
    const QStringList expected = {"Call shouldn't have succeeded yet",
                                  "Error on initial call to enumerate device",
                                  "87",
                                  "Got required size...",
                                  "8",
                                  "Error on final call to enumerate device",
                                  "0x57",
                                  "Got required size...",
                                  "8",
                                  "Got a handle!",
                                  "Now interrogating",
                                  "It's an KVX device",
                                  "Enumeration done",
                                  "0x103",
                                  "For comparison, the expected value is 0x103",
                                  "Error deleting device list handle",
                                  "Finished"};
    QCOMPARE(capture.lines(), expected);

    // A device list that cannot be made is a failure, not an empty result.
    port->setListError(0xE);
    capture.clear();
    found = backend.findDevices();
    QCOMPARE(found.first, -1);
    QVERIFY(found.second.isEmpty());
    QCOMPARE(capture.lines(), QStringList{"0xE"});
}

QTEST_GUILESS_MAIN(TestWinUsbTmc)
#include "tst_winusbtmc.moc"
