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
        // Each byte class in a query's data, where only a tab may stand.
        QVector<ushort> classes{0x7f, 0xa0, 0xfeff};
        for (ushort c = 0; c < 0x20; ++c)
            classes << c;
        for (const ushort c : classes) {
            const bool framing = c == 0 || c == '\n' || c == '\r';
            QTest::addRow("U+%04x in the data", c)
                << "syst:sernum? 1" + QString(QChar(c)) << (c == '\t') << !framing << true;
        }
        QTest::newRow("0x1f inside the header") << "freq:tune\x1f"
                                                   "12?"
                                                << false << true << false;
        QTest::newRow("0x01 inside the header") << "*ID\x01N?" << false << true << false;
        QTest::newRow("U+00A0 inside the header")
            << QString("*ID\u00a0N?") << false << true << true;
        QTest::newRow("BOM inside the header") << QString("*ID\ufeffN?") << false << true << true;
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
