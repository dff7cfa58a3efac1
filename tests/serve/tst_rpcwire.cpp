#include "rpcwire.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

namespace
{
const int MaxRecord = 8;
const int Whole = 1000;

QByteArray mark(quint32 length, bool last)
{
    uchar word[4];
    qToBigEndian<quint32>(length | (last ? 0x80000000u : 0), word);
    return QByteArray(reinterpret_cast<const char *>(word), 4);
}
} // namespace

// ONC RPC record marking and XDR opaque data, as the VXI-11 server reads and
// writes them.
class RpcWireTest : public QObject
{
    Q_OBJECT

private slots:
    void records_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("chunk"); // bytes arriving at a time
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QByteArray>("left"); // still unread after the call
        const QByteArray two = mark(2, false) + "ab" + mark(3, true) + "cde";
        const int complete = RpcRecordReader::Complete;
        const int tooLarge = RpcRecordReader::TooLarge;
        QTest::newRow("two fragments")
            << two << Whole << complete << QByteArray("abcde") << QByteArray();
        QTest::newRow("two fragments, a byte at a time")
            << two << 1 << complete << QByteArray("abcde") << QByteArray();
        QTest::newRow("the first of two fragments")
            << two.left(6) << Whole << int(RpcRecordReader::Incomplete) << QByteArray()
            << QByteArray();
        QTest::newRow("the next record stays unread")
            << mark(1, true) + "a" + mark(1, true) + "b" << Whole << complete << QByteArray("a")
            << mark(1, true) + "b";
        QTest::newRow("largest record") << mark(8, true) + "abcdefgh" << Whole << complete
                                        << QByteArray("abcdefgh") << QByteArray();
        QTest::newRow("oversize fragment") << mark(9, true) + "abcdefghi" << Whole << tooLarge
                                           << QByteArray() << QByteArray("abcdefghi");
        QTest::newRow("oversize over two fragments")
            << mark(5, false) + "abcde" + mark(4, true) + "fghi" << Whole << tooLarge
            << QByteArray() << QByteArray("fghi");
    }

    void records()
    {
        QFETCH(QByteArray, wire);
        QFETCH(int, chunk);
        QFETCH(int, result);
        QBuffer in;
        in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        RpcRecordReader reader(MaxRecord);
        QByteArray record;
        RpcRecordReader::Result r = RpcRecordReader::Incomplete;
        for (int at = 0; at < wire.size() && r == RpcRecordReader::Incomplete; at += chunk) {
            in.buffer().append(wire.mid(at, chunk));
            r = reader.read(&in, &record);
        }
        QCOMPARE(int(r), result);
        QTEST(record, "record");
        QTEST(in.readAll(), "left");
    }

    // Written padded to four bytes, and read back with the item after it.
    void opaqueData_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("00000000");
        QTest::newRow("three bytes")
            << QByteArray("abc") << QByteArray::fromHex("0000000361626300");
        QTest::newRow("four bytes")
            << QByteArray("abcd") << QByteArray::fromHex("0000000461626364");
        QTest::newRow("five bytes")
            << QByteArray("abcde") << QByteArray::fromHex("000000056162636465000000");
    }

    void opaqueData()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, wire);
        QCOMPARE(XdrWriter().bytes(data).data(), wire);
        XdrReader in(wire + XdrWriter().u32(7).data());
        QCOMPARE(in.bytes(8), data);
        QCOMPARE(in.u32(), 7u);
        QVERIFY(in.ok());
    }

    void forgedOpaqueData_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("longer than allowed")
            << QByteArray::fromHex("00000009616263646566676869000000");
        QTest::newRow("longer than the message") << QByteArray::fromHex("0000006461626300");
        QTest::newRow("padding missing") << QByteArray::fromHex("00000003616263");
    }

    void forgedOpaqueData()
    {
        QFETCH(QByteArray, wire);
        XdrReader in(wire);
        QCOMPARE(in.bytes(8), QByteArray());
        QVERIFY(!in.ok());
    }
};

QTEST_GUILESS_MAIN(RpcWireTest)
#include "tst_rpcwire.moc"
