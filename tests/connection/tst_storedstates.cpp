#include "storedstates.h"

#include <QtTest>

// The stored-state list as the instrument sends it, and what a short or
// unusual one reads as.
class StoredStatesTest : public QObject
{
    Q_OBJECT
private slots:
    void statesReadByMeaning_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("tune");
        QTest::addColumn<QString>("atten");
        QTest::addColumn<bool>("lnaOn");
        QTest::addColumn<bool>("if300");

        const QString five =
            "2.0000,0,1,1;5.5000,3,0,0;10.0000,7,0,1;14.2500,31,1,0;18.0000,9,2,01";
        QTest::newRow("first") << five << 5 << 0 << "2.0000"
                               << "0" << false << true;
        QTest::newRow("LNA on, IF 187") << five << 5 << 1 << "5.5000"
                                        << "3" << true << false;
        QTest::newRow("only exact codes count") << five << 5 << 4 << "18.0000"
                                                << "9" << false << false;
        QTest::newRow("blank before the code") << "10.0, 0,  1" << 1 << 0 << "10.0"
                                               << " 0" << false << false;
        QTest::newRow("state past a short list") << "10.0000,7,0,1;12.0000,1,0,1" << 2 << 4 << ""
                                                 << "" << false << false;
        QTest::newRow("state with two fields") << "10.0000,7" << 1 << 0 << "10.0000"
                                               << "7" << false << false;
        QTest::newRow("empty reply") << "" << 1 << 0 << ""
                                     << "" << false << false;
        QTest::newRow("negative index") << five << 5 << -1 << ""
                                        << "" << false << false;
    }

    void statesReadByMeaning()
    {
        QFETCH(QString, reply);
        QFETCH(int, count);
        QFETCH(int, index);
        const StoredStateList list(reply);
        QCOMPARE(list.count(), count);
        const StoredState state = list.state(index);
        QTEST(state.tuneFrequency(), "tune");
        QTEST(state.attenuation(), "atten");
        QTEST(state.lnaOn(), "lnaOn");
        QTEST(state.if300MHz(), "if300");
    }
};

QTEST_GUILESS_MAIN(StoredStatesTest)
#include "tst_storedstates.moc"
