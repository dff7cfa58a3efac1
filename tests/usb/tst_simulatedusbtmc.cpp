#include "simulatedusbtmcport.h"

#include <QtTest>

namespace
{

// A read request, tag 2, for up to 255 bytes.
const QByteArray readRequest = QByteArray::fromHex("0202fd00ff00000000000000");

bool send(SimulatedUsbTmcPort &port, const QByteArray &frame)
{
    std::size_t written = 0;
    return port.write(reinterpret_cast<const std::uint8_t *>(frame.constData()),
                      std::size_t(frame.size()), &written);
}

// *IDN? with tag 1, then the read request for its reply.
bool askIdentity(SimulatedUsbTmcPort &port)
{
    return send(port, QByteArray::fromHex("0101fe0005000000010000002a49444e3f000000")) &&
           send(port, readRequest);
}

} // namespace

// The simulated instrument must object to every malformed frame, or the
// backend tests that rely on its silence prove nothing.
class TestSimulatedUsbTmc : public QObject
{
    Q_OBJECT

private slots:
    void flagsMalformedFrames_data();
    void flagsMalformedFrames();
    void wellFormedExchangeIsClean();
    void replyLongerThanTheHostBufferIsAnError();
};

void TestSimulatedUsbTmc::flagsMalformedFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("complaint");

    // Well formed would be 0101fe00 05000000 01000000 2a49444e 3f000000.
    const auto idn = [](const QByteArray &header) {
        return QByteArray::fromHex(header + "2a49444e3f000000");
    };
    QTest::newRow("short") << QByteArray::fromHex("0101fe0005") << "shorter than a header";
    QTest::newRow("tag 0") << idn("0100ff000500000001000000") << "bTag 0";
    QTest::newRow("complement") << idn("0101ff000500000001000000") << "bTagInverse";
    QTest::newRow("reserved") << idn("0101fe010500000001000000") << "reserved byte 3";
    QTest::newRow("no EOM") << idn("0101fe000500000000000000") << "EOM expected";
    QTest::newRow("size beyond payload") << idn("0101fe000900000001000000") << "beyond the 8";
    QTest::newRow("alignment not zero") << QByteArray::fromHex("0101fe000500000001000000"
                                                               "2a49444e3f000100")
                                        << "alignment byte";
    QTest::newRow("unaligned") << QByteArray::fromHex("0101fe0005000000010000002a49444e3f")
                               << "not a multiple of 4";
    QTest::newRow("surplus bytes") << QByteArray::fromHex("0101fe000100000001000000"
                                                          "3f00000000000000")
                                   << "behind the payload";
    QTest::newRow("MsgID") << QByteArray::fromHex("7e01fe000000000000000000") << "unknown MsgID";
    QTest::newRow("TermChar request")
        << QByteArray::fromHex("0201fe00ff00000002000000") << "TermChar unsupported";
    QTest::newRow("empty read request")
        << QByteArray::fromHex("0201fe000000000000000000") << "read request for 0 bytes";
}

void TestSimulatedUsbTmc::flagsMalformedFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, complaint);
    SimulatedUsbTmcPort port;
    auto device = port.addDevice("d");
    QVERIFY(port.open("d"));
    QVERIFY(send(port, frame));
    QCOMPARE(device->violations().size(), 1);
    QVERIFY2(device->violations().first().contains(complaint),
             qPrintable(device->violations().first()));
}

void TestSimulatedUsbTmc::wellFormedExchangeIsClean()
{
    SimulatedUsbTmcPort port;
    auto device = port.addDevice("d");
    QVERIFY(port.open("d"));
    QVERIFY(askIdentity(port));
    QCOMPARE(device->violations(), QStringList());
    QCOMPARE(device->commands(), QList<QByteArray>{"*IDN?"});

    std::size_t count = 0;
    QByteArray in(64, '\0');
    QVERIFY(port.read(reinterpret_cast<std::uint8_t *>(in.data()), 64, &count));
    QCOMPARE(int(count), 48);
    QCOMPARE(in.left(12), QByteArray::fromHex("0202fd002300000001000000"));
    QCOMPARE(in.mid(12, 35), QByteArray("Ostrelin,KX4417-UDC,SN000123,2.4.1\n"));

    // The same tag twice in a row is a host fault too; and with the reply
    // already collected the device has nothing to send, so the read times out.
    QVERIFY(send(port, readRequest));
    QCOMPARE(device->violations(), QStringList{"frame 2: bTag 2 repeated"});
    QVERIFY(!port.read(reinterpret_cast<std::uint8_t *>(in.data()), 64, &count));
    QCOMPARE(port.lastError(), UsbTmcPort::errorTimeout);
}

void TestSimulatedUsbTmc::replyLongerThanTheHostBufferIsAnError()
{
    SimulatedUsbTmcPort port;
    port.addDevice("d");
    QVERIFY(port.open("d"));
    QVERIFY(askIdentity(port));
    std::size_t count = 0;
    QByteArray in(16, '\0');
    QVERIFY(!port.read(reinterpret_cast<std::uint8_t *>(in.data()), 16, &count));
    QCOMPARE(port.lastError(), SimulatedUsbTmcPort::errorMoreData);
    QCOMPARE(count, std::size_t(0));
}

QTEST_GUILESS_MAIN(TestSimulatedUsbTmc)
#include "tst_simulatedusbtmc.moc"
