// Conversion of the instrument's replies by HardwareAbstractionUSB, built as
// the connection manager builds it: its own usbConnection, which picks the
// VISA backend (the test VISA library) talking to the instrument simulator.
// The simulator answers each query with the odd reply under test, followed by
// the line end the instrument sends.
#include "hardwareabstractionusb.h"
#include "sim/simserver.h"

#include <QtTest>
#include <functional>
#include <memory>

namespace
{

const QString resource = "USB0::0x2012::0x4417::SN0001::INSTR";

template <typename T> QString joined(const QList<T> &values)
{
    QStringList texts;
    for (const T &value : values)
        texts << QString::number(value);
    return texts.join('|');
}

using Reading = std::function<QString(HardwareAbstraction &)>;

} // namespace

Q_DECLARE_METATYPE(Reading)

class TestHardwareUsbReplies : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void conversions_data();
    void conversions();
    void destructionEndsTheSession();

private:
    std::unique_ptr<SimServer> sim;
    std::unique_ptr<HardwareAbstractionUSB> hardware;
};

void TestHardwareUsbReplies::initTestCase()
{
    sim = std::make_unique<SimServer>();
    QVERIFY(sim->start(0));
    qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(sim->port()));
    hardware = std::make_unique<HardwareAbstractionUSB>();
    QCOMPARE(hardware->getDeviceList(), qMakePair(0, QStringList{resource}));
    QCOMPARE(hardware->openConnection(resource), 0);
}

void TestHardwareUsbReplies::cleanupTestCase()
{
    hardware.reset();
    sim.reset();
}

void TestHardwareUsbReplies::conversions_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<Reading>("read");
    QTest::addColumn<QString>("expected");

    using H = HardwareAbstraction;
    const Reading temps = [](H &h) { return joined(h.getTemps()); };
    const Reading attens = [](H &h) { return joined(h.getAttens()); };
    const Reading time = [](H &h) { return QString::number(h.getTime()); };
    const Reading firmware = [](H &h) { return joined(h.getFirmVerNumbers()); };
    const Reading boardId = [](H &h) { return QString::number(h.getBoardId()); };

    const auto row = [](const char *name, const char *query, const QByteArray &reply,
                        const Reading &read, const char *expected) {
        QTest::newRow(name) << QByteArray(query) << reply << read << QString(expected);
    };
    row("temps, empty field", "SYST:TEMP?", "25.5,,30", temps, "25.5|0|30");
    row("temps, empty reply", "SYST:TEMP?", {}, temps, "0");
    row("temps, junk field", "SYST:TEMP?", " 1e2 ,x,-3.5", temps, "100|0|-3.5");
    row("attens", "SYST:ATTN?", "10,20", attens, "10|20");
    row("attens, signed", "SYST:ATTN?", "-4,+3,- 2", attens, "-4|3|0");
    row("attens, fractions are not integers", "SYST:ATTN?", "1.5, 7 ,", attens, "0|7|0");
    row("time, not a number", "SYST:TIME?", "abc", time, "-1");
    row("time", "SYST:TIME?", "12.5", time, "12.5");
    row("firmware, no prefix", "SYST:FIRM?", "1.2", firmware, "0|2");
    row("firmware, gaps", "SYST:FIRM?", "V2..x", firmware, "2|0|0");
    row("firmware, empty", "SYST:FIRM?", {}, firmware, "0");
    row("firmware text keeps the line end", "SYST:FIRM?", "V3.0",
        Reading([](H &h) { return h.getFirmVer(0); }), "V3.0\n");
    row("board id, not a number", "SYST:BOARDID?", "B17", boardId, "0");
    row("serial number", "SYST:SERNUM?", " 4711 ",
        Reading([](H &h) { return QString::number(h.getSerialNumber()); }), "4711");
}

void TestHardwareUsbReplies::conversions()
{
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, reply);
    QFETCH(Reading, read);
    QFETCH(QString, expected);

    sim->clearReplies();
    sim->setReply(query, reply);
    sim->clearReceived();
    QCOMPARE(read(*hardware), expected);
    QTRY_COMPARE(sim->receivedLines(), QStringList{QString(query)});
}

// An open VISA instrument session holds one link to the simulator.
void TestHardwareUsbReplies::destructionEndsTheSession()
{
    QCOMPARE(hardware->getBoardId(), 17);
    QTRY_COMPARE(sim->connectionCount(), 1);
    hardware.reset();
    QTRY_COMPARE(sim->connectionCount(), 0);
}

QTEST_GUILESS_MAIN(TestHardwareUsbReplies)
#include "tst_hardwareusbreplies.moc"
