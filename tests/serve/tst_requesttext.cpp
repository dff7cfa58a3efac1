#include "requesttext.h"

#include <QtTest>

// The one judge of request text, by byte class and by framing: what passes
// under --read-only, what passes at all, and what is sent as a query.
class RequestTextTest : public QObject
{
    Q_OBJECT
private slots:
    void judged_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readOnly"); // passes under --read-only
        QTest::addColumn<bool>("passes");   // passes otherwise
        QTest::addColumn<bool>("query");
        for (ushort c = 0; c < 0x20; ++c) {
            const bool framing = c == 0 || c == '\n' || c == '\r';
            QTest::addRow("0x%02x in a header", c)
                << "*ID" + QString(QChar(c)) + "N?" << false << !framing << false;
        }
        QTest::newRow("0x1f before the data") << "freq:tune\x1f"
                                                 "12?"
                                              << false << true << false;
        QTest::newRow("0x7f") << "*IDN\x7f?" << false << true << true;
        QTest::newRow("U+00A0") << QString("*ID\u00a0N?") << false << true << true;
        QTest::newRow("BOM") << QString("*ID\ufeffN?") << false << true << true;
        QTest::newRow("tab before the data") << "syst:sernum?\tx" << true << true << true;
        QTest::newRow("compound query") << ":syst:sernum? 1" << true << true << true;
        QTest::newRow("suffix") << "meas2?" << true << true << true;
        QTest::newRow("command") << "freq:tune 12" << false << true << false;
        QTest::newRow("? in the data") << "fact:savegate ?" << false << true << false;
        QTest::newRow("? inside the header") << "syst:sernum?x" << false << true << false;
        QTest::newRow("empty mnemonic") << "syst::sernum?" << false << true << true;
        QTest::newRow("; then a query") << "freq:tune 12;*idn?" << false << true << true;
        QTest::newRow("; after a query") << "*idn?;freq:tune 12" << false << true << true;
        QTest::newRow("; commands only") << "freq:tune 12;att 3" << false << true << false;
        QTest::newRow("CR then a query") << "freq:tune 12\r*idn?" << false << false << false;
        QTest::newRow("LF then a query") << "freq:tune 12\n*idn?" << false << false << false;
        QTest::newRow("NUL then a query")
            << QString::fromUtf8("x\0*idn?", 7) << false << false << false;
    }

    void judged()
    {
        QFETCH(QString, text);
        QFETCH(bool, readOnly);
        QFETCH(bool, passes);
        QFETCH(bool, query);
        QCOMPARE(RequestText::refusal(text, true).isEmpty(), readOnly);
        QCOMPARE(RequestText::refusal(text, false).isEmpty(), passes);
        QCOMPARE(RequestText::isQuery(text), query);
    }
};

QTEST_GUILESS_MAIN(RequestTextTest)
#include "tst_requesttext.moc"
