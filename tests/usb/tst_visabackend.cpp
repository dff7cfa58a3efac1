// The VISA backend against the test VISA library, which presents simulated
// instruments on loopback ports as USB resources.
#include "messagelog.h"
#include "sim/simserver.h"
#include "testworkdir.h"
#include "usb/visabackend.h"

#include <QtTest>
#include <memory>

namespace
{

const char firstResource[] = "USB0::0x2012::0x4417::SN0001::INSTR";
const char secondResource[] = "USB0::0x2012::0x4417::SN0002::INSTR";

QByteArray address(const SimServer &sim)
{
    return "127.0.0.1:" + QByteArray::number(sim.port());
}

} // namespace

class TestVisaBackend : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadsTheLibrary();
    void findsNothingWithoutMatchingInstrument();
    void listsEveryMatchingInstrumentAndLogsTheFirst_data();
    void listsEveryMatchingInstrumentAndLogsTheFirst();
    void writesAndReadsWithoutTerminators();
    void readTakesOneWholeReply_data();
    void readTakesOneWholeReply();
    void writeEndingInWarningFails();
    void failedOpenClosesTheHandleItWasGiven();
    void readTimeoutFails();
    void attributesAreForwardedAndLogged();
    void wideAttributeStaysInsideTheCallersInt();
    void readBufferSizeFailureIsLogged();
    void teardownOrNewSetupClosesEverySession();

private:
    QStringList trace() const;
    // A simulator, and a backend set up with that instrument open.
    void openFirst();

    std::unique_ptr<TestWorkdir> workdir;
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<VisaBackend> backend;
};

void TestVisaBackend::init()
{
    workdir = std::make_unique<TestWorkdir>();
    qputenv("FAKEVISA_TRACE", (workdir->path() + "/visa-calls.txt").toLocal8Bit());
    qunsetenv("FAKEVISA_INSTRUMENTS");
    qunsetenv("FAKEVISA_WRITE_WARNING");
    qunsetenv("FAKEVISA_READ_TIMEOUT_MS");
    qunsetenv("FAKEVISA_FIND_VANISHED");
    qunsetenv("FAKEVISA_TERM_CHAR");
}

void TestVisaBackend::cleanup()
{
    qunsetenv("FAKEVISA_TRACE");
    backend.reset();
    sim.reset();
    workdir.reset();
}

QStringList TestVisaBackend::trace() const
{
    QFile file(workdir->path() + "/visa-calls.txt");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void TestVisaBackend::openFirst()
{
    // Both exist before the first check, so a failing check cannot leave them null.
    sim = std::make_unique<SimServer>();
    backend = std::make_unique<VisaBackend>();
    QVERIFY(sim->start(0));
    qputenv("FAKEVISA_INSTRUMENTS", address(*sim));
    QCOMPARE(backend->setupBackend(), 0);
    QCOMPARE(backend->openDevice(firstResource), 0);
}

void TestVisaBackend::loadsTheLibrary()
{
    MessageLog log;
    VisaBackend backend;
    QVERIFY(backend.isAvailable());
    QVERIFY(log.contains("Visa32 library loaded"));
    QVERIFY(log.startingWith("Visa32 library lacks").isEmpty());
    QCOMPARE(backend.setupBackend(), 0);
    QCOMPARE(backend.lastStatus(), VI_SUCCESS);
}

void TestVisaBackend::findsNothingWithoutMatchingInstrument()
{
    VisaBackend backend;
    QCOMPARE(backend.setupBackend(), 0);
    QCOMPARE(backend.findDevices(), qMakePair(0, QStringList()));

    // An instrument of another vendor is not ours.
    SimServer sim;
    QVERIFY(sim.start(0));
    qputenv("FAKEVISA_INSTRUMENTS", "USB0::0x0957::0x1796::MY1::INSTR@" + address(sim));
    QCOMPARE(backend.findDevices(), qMakePair(0, QStringList()));
    QCOMPARE(trace().filter("viFindRsrc"),
             (QStringList{"viFindRsrc USB0::0x2012::?*INSTR", "viFindRsrc USB0::0x2012::?*INSTR"}));
}

void TestVisaBackend::listsEveryMatchingInstrumentAndLogsTheFirst_data()
{
    QTest::addColumn<QByteArray>("vanished");
    QTest::addColumn<int>("failedSteps");
    QTest::newRow("all present") << QByteArray("0") << 0;
    QTest::newRow("a third gone during the search") << QByteArray("1") << 1;
}

void TestVisaBackend::listsEveryMatchingInstrumentAndLogsTheFirst()
{
    QFETCH(QByteArray, vanished);
    QFETCH(int, failedSteps);
    SimServer first;
    SimServer second;
    QVERIFY(first.start(0));
    QVERIFY(second.start(0));
    qputenv("FAKEVISA_INSTRUMENTS", address(first) + ";" + address(second));
    qputenv("FAKEVISA_FIND_VANISHED", vanished);
    VisaBackend backend;
    QCOMPARE(backend.setupBackend(), 0);

    MessageLog log;
    // Count and list agree, so a caller walking the list by count stays inside it.
    QCOMPARE(backend.findDevices(), qMakePair(2, QStringList({firstResource, secondResource})));
    QCOMPARE(log.startingWith("Found"), QStringList{QString("Found ") + firstResource});
    QCOMPARE(log.startingWith("viFindNext failed").size(), failedSteps);
    QCOMPARE(trace().filter("find-list"), QStringList{"viClose find-list"});

    // No identification traffic during the search.
    QVERIFY(first.receivedLines().isEmpty());
    QVERIFY(second.receivedLines().isEmpty());
}

void TestVisaBackend::writesAndReadsWithoutTerminators()
{
    openFirst();

    QCOMPARE(backend->write("*IDN?", 5), 5);
    QTRY_COMPARE(sim->receivedLines(), QStringList{"*IDN?"});
    char buffer[256];
    const int count = backend->read(buffer, 255);
    QCOMPARE(QByteArray(buffer, qMax(count, 0)),
             QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));
}

void TestVisaBackend::readTakesOneWholeReply_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("termChar");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("short") << 30 << false << 31 << QStringList();
    QTest::newRow("short, ends at the termination character") << 30 << true << 31 << QStringList();
    const QStringList dropped{"Reply longer than 255 bytes: 146 bytes dropped"};
    QTest::newRow("400 bytes") << 400 << false << 255 << dropped;
    QTest::newRow("400 bytes, ends at the termination character") << 400 << true << 255 << dropped;
}

void TestVisaBackend::readTakesOneWholeReply()
{
    QFETCH(int, length);
    QFETCH(bool, termChar);
    QFETCH(int, count);
    QFETCH(QStringList, log);
    openFirst();
    const QByteArray reply = QByteArray(length, 'L') + "\n";
    sim->setReply("SYST:LONG?", reply.left(length));
    // Late enough that the rest of a long reply is read with less time left.
    sim->setFault(SimServer::Fault::DelayReply, 50, "SYST:LONG?");
    if (termChar)
        qputenv("FAKEVISA_TERM_CHAR", "1");

    MessageLog messages;
    QVERIFY(backend->write("SYST:LONG?", 10) >= 0);
    char buffer[256];
    QCOMPARE(backend->read(buffer, 255), count);
    QCOMPARE(QByteArray(buffer, count), reply.left(count));
    QCOMPARE(messages.startingWith("Reply longer"), log);
    QVERIFY(messages.startingWith("End of the long reply").isEmpty());
    const QStringList timeouts = trace().filter("viSetAttribute 1073676314 ");
    if (log.isEmpty()) {
        QVERIFY(timeouts.isEmpty());
    } else {
        QCOMPARE(timeouts.size(), 2);
        const int left = timeouts.first().section(' ', 2).toInt();
        QVERIFY2(left > 0 && left <= 1950, qPrintable(timeouts.first()));
        QCOMPARE(timeouts.last(), QString("viSetAttribute 1073676314 2000"));
    }

    // The next query gets its own reply, and the session keeps its time-out.
    QVERIFY(backend->write("SYST:FIRMID?", 12) >= 0);
    QCOMPARE(backend->read(buffer, 255), 5);
    QCOMPARE(QByteArray(buffer, 5), QByteArray("0042\n"));
    const unsigned timeout = VI_ATTR_TMO_VALUE;
    int value = 0;
    backend->getAttribute(&timeout, &value);
    QCOMPARE(value, 2000);
}

void TestVisaBackend::writeEndingInWarningFails()
{
    openFirst();
    qputenv("FAKEVISA_WRITE_WARNING", "1");
    QCOMPARE(backend->write("freq:tune 10.0000", 17), -1);
    QTRY_COMPARE(sim->receivedLines(), QStringList{"freq:tune 10.0000"});
}

void TestVisaBackend::failedOpenClosesTheHandleItWasGiven()
{
    SimServer sim;
    QVERIFY(sim.start(0));
    qputenv("FAKEVISA_INSTRUMENTS", address(sim));
    VisaBackend backend;
    QCOMPARE(backend.setupBackend(), 0);
    QCOMPARE(backend.openDevice("USB0::0x2012::0x4417::SN9999::INSTR"), -1);
    QCOMPARE(backend.lastStatus(), VI_ERROR_RSRC_NFOUND);
    QCOMPARE(trace().mid(trace().indexOf("viOpen USB0::0x2012::0x4417::SN9999::INSTR")),
             QStringList({"viOpen USB0::0x2012::0x4417::SN9999::INSTR", "viClose null"}));
    // A failed open does not spoil the next one.
    QCOMPARE(backend.openDevice(firstResource), 0);
    QCOMPARE(backend.lastStatus(), VI_SUCCESS);
}

void TestVisaBackend::readTimeoutFails()
{
    qputenv("FAKEVISA_READ_TIMEOUT_MS", "100");
    openFirst();
    sim->setFault(SimServer::Fault::NoReply);
    QVERIFY(backend->write("*IDN?", 5) >= 0);
    char buffer[256];
    QCOMPARE(backend->read(buffer, 255), -1);

    sim->clearFault();
    QVERIFY(backend->write("SYST:FIRMID?", 12) >= 0);
    QCOMPARE(backend->read(buffer, 255), 5);
    QCOMPARE(QByteArray(buffer, 5), QByteArray("0042\n"));
}

void TestVisaBackend::attributesAreForwardedAndLogged()
{
    openFirst();
    MessageLog log;
    const unsigned timeout = VI_ATTR_TMO_VALUE;
    backend->setAttribute(&timeout, 150);
    int value = 0;
    backend->getAttribute(&timeout, &value);
    QCOMPARE(value, 150);
    QCOMPARE(log.startingWith("Attribute"), QStringList({"Attribute 0x3FFF001A set to 150 (0x96)",
                                                         "Attribute 0x3FFF001A = 150 (0x96)"}));
    QVERIFY(trace().contains("viSetAttribute 1073676314 150"));
}

void TestVisaBackend::wideAttributeStaysInsideTheCallersInt()
{
    openFirst();
    // The resource name attribute is a 256-character string.
    const unsigned resourceName = 0xBFFF0002U;
    struct {
        int value = -7;
        char after[300];
    } frame;
    memset(frame.after, 0x5A, sizeof frame.after);
    backend->getAttribute(&resourceName, &frame.value);
    QCOMPARE(QByteArray(frame.after, sizeof frame.after), QByteArray(300, 0x5A));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&frame.value), 4), QByteArray("USB0"));
}

void TestVisaBackend::readBufferSizeFailureIsLogged()
{
    SimServer sim;
    VisaBackend backend;
    QCOMPARE(backend.setupBackend(), 0);
    MessageLog log;
    backend.setReadBufferSize(4096); // no instrument session yet
    QCOMPARE(log.count("Bad Read Buffer Set Size"), 1);

    QVERIFY(sim.start(0));
    qputenv("FAKEVISA_INSTRUMENTS", address(sim));
    QCOMPARE(backend.openDevice(firstResource), 0);
    backend.setReadBufferSize(4096);
    QCOMPARE(log.count("Bad Read Buffer Set Size"), 1);
    QCOMPARE(trace().filter("viSetBuf"), QStringList({"viSetBuf 1 4096", "viSetBuf 1 4096"}));
}

void TestVisaBackend::teardownOrNewSetupClosesEverySession()
{
    openFirst();
    QTRY_COMPARE(sim->connectionCount(), 1);
    backend->teardownBackend();
    QVERIFY(trace().contains("viClose resource-manager"));
    QTRY_COMPARE(sim->connectionCount(), 0);
    QCOMPARE(backend->write("*IDN?", 5), -1);

    // The backend can be set up again for the next use of the USB path.
    QCOMPARE(backend->setupBackend(), 0);
    QCOMPARE(backend->openDevice(firstResource), 0);
    QCOMPARE(backend->write("*IDN?", 5), 5);
    // The reply is taken: under wine, a client that writes and closes at once
    // may leave the simulator's socket without any notification at all.
    char reply[256];
    QVERIFY(backend->read(reply, 255) > 0);
    QTRY_COMPARE(sim->connectionCount(), 1);

    // A setup that follows a use never torn down releases what that use left open.
    QCOMPARE(backend->setupBackend(), 0);
    QTRY_COMPARE(sim->connectionCount(), 0);
    QCOMPARE(trace().count("viClose resource-manager"), 2);
    QCOMPARE(backend->openDevice(firstResource), 0);
    QCOMPARE(backend->write("*IDN?", 5), 5);
}

QTEST_GUILESS_MAIN(TestVisaBackend)
#include "tst_visabackend.moc"
