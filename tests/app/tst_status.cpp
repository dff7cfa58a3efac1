#include "messagelog.h"
#include "panelharness.h"
#include "trendseries.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
// The example reply: LNA on, LO1 and LO2 locked, internal LO1, external
// reference, no override, integer PLL, 300 MHz IF.
const char example[] = "0,10.0000,0,0,1,1,0,0,1,0,100,2,1,35.2,1.25,1";
// Every flag of the example flipped.
const char flipped[] = "9.1,8.8000,5,1,0,0,1,1,0,1,50,3,0,20.0,0.9,0";

QString withField(int index, const QString &value, const char *reply = example)
{
    QStringList fields = QString(reply).split(',');
    fields[index] = value;
    return fields.join(',');
}
} // namespace

class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    // The instrument's numbers always have a full stop.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void exampleReplySetsEveryLampAndLabel()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);
        QVERIFY(PanelHarness::picture("lighton.png") != PanelHarness::picture("lightoff.png"));
        h.sim.setReply("syst:readstate?", example);

        h.button("statusButton")->click();
        QTRY_COMPARE(h.statusReads(), size_t(2));
        QCOMPARE(h.sim.receivedLines(), QStringList{"syst:readstate?"});

        QCOMPARE(h.label("tempLabel")->text(), QString("35.2"));
        QCOMPARE(h.label("lo1freqLabel")->text(), QString("0"));
        QCOMPARE(h.label("tuneActLabel")->text(), QString("10.0000"));
        QCOMPARE(h.label("rfAttenLabel")->text(), QString("0"));
        QCOMPARE(h.label("refFreqLabel")->text(), QString("100"));
        QCOMPARE(h.label("filterLabel")->text(), QString("2"));
        QCOMPARE(h.label("currLabel")->text(), QString("1.25"));
        QCOMPARE(h.label("lnaLabel")->text(), QString("ON"));
        QCOMPARE(h.button("lnaButton")->text(), QString("Turn LNA Off"));
        QVERIFY(h.iconIs("lnaButton", "powersymbol.png"));
        QCOMPARE(h.label("lo1Label")->text(), QString("LOCKED"));
        QCOMPARE(h.label("lo2Label")->text(), QString("LOCKED"));
        QCOMPARE(h.label("lo3Label")->text(), QString("UNLOCKED"));
        QVERIFY(h.shows("lo1iconLabel", "Lock-icon.png"));
        QVERIFY(h.shows("lo2iconLabel", "Lock-icon.png"));
        QVERIFY(h.shows("lo3iconLabel", "Lock-Unlock-icon.png"));
        QVERIFY(h.lit("lo1intLight") && h.dark("lo1extLight"));
        QVERIFY(h.lit("refExtLight") && h.dark("refIntLight"));
        QVERIFY(h.lit("integerLight") && h.dark("fractionalLight"));
        QVERIFY(h.lit("if300Light") && h.dark("if187Light"));
        QVERIFY(!h.button("intSetButton")->isEnabled());
        QVERIFY(!h.button("extSetButton")->isEnabled());
        QVERIFY(h.iconIs("overrideButton", "lightoff.png"));

        // A reply holding a NUL byte is a failed read; the panel keeps
        // showing the last sound one.
        QByteArray withNul(flipped);
        withNul.insert(withNul.lastIndexOf(',') + 1, '\0');
        h.sim.setReply("syst:readstate?", withNul);
        MessageLog debug;
        h.button("statusButton")->click();
        QTRY_VERIFY(debug.contains("TCP reply dropped: it holds a NUL byte"));
        QCOMPARE(h.label("tuneActLabel")->text(), QString("10.0000"));
        QVERIFY(h.lit("if300Light") && h.lit("integerLight"));
    }

    void flippedReplyFlipsEveryPair()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        w.updateConnStatus(connStatus_t{true, false});
        w.handleStatus(example);
        QVERIFY(!h.button("intSetButton")->isEnabled());
        const auto spoken = [&](const char *name) {
            return h.find<QWidget>(name)->accessibleName();
        };
        QCOMPARE(spoken("lo2iconLabel"), QString("LO2 locked"));
        QCOMPARE(spoken("if300Light"), QString("IF 300 MHz selected"));
        QCOMPARE(spoken("if187Light"), QString("IF 187 MHz not selected"));
        QCOMPARE(spoken("tempLabel"), QString::fromUtf8("Temperature 35.2 °C"));
        w.handleStatus(flipped);
        QCOMPARE(spoken("lo2iconLabel"), QString("LO2 unlocked"));
        QCOMPARE(spoken("if300Light"), QString("IF 300 MHz not selected"));
        QCOMPARE(spoken("if187Light"), QString("IF 187 MHz selected"));
        QCOMPARE(spoken("integerLight"), QString("PLL integer not selected"));
        QCOMPARE(spoken("tempLabel"), QString::fromUtf8("Temperature 20.0 °C"));
        // Both good reads are in the trend, newest last.
        const auto &trend = w.findChild<TrendSeries *>()->samples();
        QCOMPARE(int(trend.size()), 2);
        QCOMPARE(trend.back().temperature, 20.0);
        QCOMPARE(trend.back().current, 0.9);

        QCOMPARE(h.label("tuneActLabel")->text(), QString("8.8000"));
        QCOMPARE(h.label("lnaLabel")->text(), QString("OFF"));
        QCOMPARE(h.button("lnaButton")->text(), QString("Turn LNA On"));
        QVERIFY(h.iconIs("lnaButton", "poweron.png"));
        QCOMPARE(h.label("lo1Label")->text(), QString("UNLOCKED"));
        QCOMPARE(h.label("lo3Label")->text(), QString("LOCKED"));
        QVERIFY(h.shows("lo1iconLabel", "Lock-Unlock-icon.png"));
        QVERIFY(h.shows("lo3iconLabel", "Lock-icon.png"));
        QVERIFY(h.dark("lo1intLight") && h.lit("lo1extLight"));
        QVERIFY(h.dark("refExtLight") && h.lit("refIntLight"));
        QVERIFY(h.dark("integerLight") && h.lit("fractionalLight"));
        QVERIFY(h.dark("if300Light") && h.lit("if187Light"));
        QVERIFY(h.button("intSetButton")->isEnabled());
        QVERIFY(h.button("extSetButton")->isEnabled());
        QVERIFY(h.iconIs("overrideButton", "lightblue.png"));
    }

    void onlyExactFlagsCount()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        for (const QString lna : {"1", "2", " 0", "00"}) {
            w.handleStatus(example);
            w.handleStatus(withField(3, lna));
            QVERIFY2(h.label("lnaLabel")->text() == "OFF", qPrintable(lna));
        }
        for (const QString lock : {"01", " 1", "1.0"}) {
            w.handleStatus(example);
            w.handleStatus(withField(4, lock));
            QVERIFY2(h.label("lo1Label")->text() == "UNLOCKED", qPrintable(lock));
        }
        w.handleStatus(withField(15, "1 "));
        QVERIFY(h.lit("if187Light"));
        w.handleStatus(withField(11, "<i>band</i>"));
        QCOMPARE(h.label("filterLabel")->text(), QString("<i>band</i>"));

        // Fields past the sixteenth are ignored.
        w.handleStatus(QString(flipped) + ",1,1,extra");
        QCOMPARE(h.label("tuneActLabel")->text(), QString("8.8000"));
        QVERIFY(h.lit("if187Light"));
        QVERIFY(!h.log().join('\n').contains("Bad status read"));
    }

    void badReplyKeepsThePanelAndTheLink_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("fault"); // empty when the reply is shown
        const QString fifteen = QString(flipped).section(',', 0, 14);
        QTest::newRow("sixteen fields") << QString(flipped) << QString();
        QTest::newRow("three fields") << "9.9,17.0000,3"
                                      << "3 of 16 fields received";
        QTest::newRow("fifteen fields") << fifteen << "15 of 16 fields received";
        QTest::newRow("cut after the last comma") << fifteen + ","
                                                  << "field 16 (IF frequency) is empty";
        QTest::newRow("NUL in the last field") << withField(15, QString(QChar(0)) + "1", flipped)
                                               << "field 16 (IF frequency) is not a number";
        QTest::newRow("empty field")
            << withField(2, "", flipped) << "field 3 (downconverter attenuation) is empty";
        QTest::newRow("text for a flag")
            << withField(4, "true", flipped) << "field 5 (LO1 lock) is not a number";
        QTest::newRow("text for a number")
            << withField(13, "nan", flipped) << "field 14 (temperature) is not a number";
    }

    void badReplyKeepsThePanelAndTheLink()
    {
        QFETCH(QString, reply);
        QFETCH(QString, fault);
        PanelHarness h;
        MainWindow &w = h.build();
        QSignalSpy closeUsb(&w, &MainWindow::closeUSB);
        QSignalSpy connectUsb(&w, &MainWindow::connectUSB);
        QSignalSpy commands(&w, &MainWindow::command);
        w.updateConnStatus(connStatus_t{false, true});
        w.handleStatus(example);

        w.handleStatus(reply);
        if (fault.isEmpty()) {
            QCOMPARE(h.label("tuneActLabel")->text(), QString("8.8000"));
            QVERIFY(!h.log().join('\n').contains("Bad status read"));
            return;
        }
        QCOMPARE(h.log().last(), "red: Bad status read: " + fault + ".");
        QCOMPARE(h.label("tuneActLabel")->text(), QString("10.0000"));
        QCOMPARE(h.label("lnaLabel")->text(), QString("ON"));
        QVERIFY(h.lit("integerLight"));
        QCOMPARE(closeUsb.count(), 0);
        QCOMPARE(connectUsb.count(), 0);

        // The toggles still decide from the last complete reply.
        h.button("lnaButton")->click();
        QCOMPARE(commands.takeFirst()[0].toString(), QString("powe:lna 1"));

        // No reconnection was started, so a disconnect is still reported.
        w.updateConnStatus(connStatus_t{false, false});
        QCOMPARE(h.log().last(), QString("red: USB device disconnected."));
    }

    void emptyRepliesOverUsbReconnectSilently()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        QStringList requests;
        connect(&w, &MainWindow::closeUSB, [&] { requests << "close"; });
        connect(&w, &MainWindow::connectUSB, [&] { requests << "connect"; });
        w.updateConnStatus(connStatus_t{false, true});
        w.handleStatus(example);

        w.handleStatus("");
        w.handleStatus("");
        QCOMPARE(requests, QStringList({"close", "connect", "close", "connect"}));
        QCOMPARE(h.log().count("red: Bad status read."), 2);
        QCOMPARE(h.label("tuneActLabel")->text(), QString("10.0000"));
        QVERIFY(h.lit("if300Light"));

        const int entries = h.log().count();
        w.updateConnStatus(connStatus_t{false, false});
        w.updateConnStatus(connStatus_t{false, true});
        w.handleUSBConnFinished("KX4417-UDC");
        QCOMPARE(h.log().count(), entries);
        QCOMPARE(h.label("statusLabel")->text(), QString("Connected to KX4417-UDC"));

        w.updateConnStatus(connStatus_t{false, false});
        QCOMPARE(h.log().last(), QString("red: USB device disconnected."));
    }

    void emptyReplyOverTcpNeitherReconnectsNorHidesADisconnect()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);
        MainWindow &w = *h.window;
        QSignalSpy connectUsb(&w, &MainWindow::connectUSB);
        h.sim.setFault(SimServer::Fault::EmptyReply, 0, "syst:readstate?");
        const QString tune = h.label("tuneActLabel")->text();

        h.button("statusButton")->click();
        QTRY_VERIFY(h.log().contains("red: Bad status read."));
        QCOMPARE(connectUsb.count(), 0);
        QCOMPARE(h.label("tuneActLabel")->text(), tune);
        QVERIFY(h.find<QWidget>("tuneFreqBox")->isEnabled());

        // No reconnection is under way, so the instrument dropping the link
        // is still reported.
        h.sim.setFault(SimServer::Fault::CloseConnection, 0, "syst:readstate?");
        h.button("statusButton")->click();
        QTRY_COMPARE(h.log().last(), QString("red: TCP device disconnected."));
    }

    void overheatKeepsLastValues()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);
        h.sim.setReply("syst:readstate?", example);
        h.button("statusButton")->click();
        QTRY_COMPARE(h.statusReads(), size_t(2));

        h.sim.setFault(SimServer::Fault::OverheatReply, 0, "syst:readstate?");
        h.button("statusButton")->click();
        QTRY_COMPARE(h.label("statusLabel")->text(), QString("Fatal system condition"));
        QCOMPARE(h.log().last(), QString("red bold: SYSTEM OVERHEATED! RF power disabled. Please "
                                         "restart hardware and software."));
        QCOMPARE(h.label("tempLabel")->text(), QString("35.2"));
        QVERIFY(h.lit("integerLight") && h.lit("if300Light") && h.lit("refExtLight"));
        QVERIFY(h.button("statusButton")->isEnabled());
    }

    void pollOnlyWhileTcpIsUp()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        QSignalSpy queries(&w, &MainWindow::query);

        w.statusTimeout();
        w.updateConnStatus(connStatus_t{false, true});
        w.statusTimeout();
        QCOMPARE(queries.count(), 0);

        w.updateConnStatus(connStatus_t{true, true});
        w.statusTimeout();
        QCOMPARE(queries.count(), 1);
        QCOMPARE(queries[0][0].toString(), QString("syst:readstate?"));
        QCOMPARE(queries[0][1].value<calling_mode_t>(), MODE_STATUS);

        // While the instrument may still answer, the poll does not queue
        // another request; the answer frees it again.
        w.statusTimeout();
        QCOMPARE(queries.count(), 1);
        w.handleQueryResponse("OH NO!", MODE_STATUS);
        w.statusTimeout();
        QCOMPARE(queries.count(), 2);
    }
};

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
