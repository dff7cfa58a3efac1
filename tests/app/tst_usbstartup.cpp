// The panel's first start beside a USB instrument: with no settings file it
// connects over USB, learns the instrument's network settings, writes them
// and connects over TCP/IP. The instrument is the simulator, reached over USB
// through the test VISA library and over TCP/IP directly.
#include "loopback.h"
#include "networksettingscontroller.h"
#include "panelharness.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(MainWindow::ConnectionStart)

class TestUsbStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstStartLearnsAddressOverUsb_data()
    {
        QTest::addColumn<MainWindow::ConnectionStart>("start");
        QTest::newRow("after the window") << MainWindow::ConnectionStart::OnRequest;
        QTest::newRow("beside the window") << MainWindow::ConnectionStart::DuringConstruction;
    }

    void firstStartLearnsAddressOverUsb()
    {
        QFETCH(MainWindow::ConnectionStart, start);
        PanelHarness h;
        QVERIFY(h.sim.start(0));
        h.sim.withModel([&](InstrumentModel &model) { model.setPort(h.sim.port()); });
        qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(h.sim.port()));
        QVERIFY(!QFile::exists("ipdata.vnf"));

        h.launch(start);
        QTRY_COMPARE_WITH_TIMEOUT(h.button("tcpipButton")->text(), QString("Disconnect TCP/IP"),
                                  20000);
        QCOMPARE(h.button("usbButton")->text(), QString("Disconnect USB"));
        QCOMPARE(h.label("statusLabel")->text(), QString("Connected to KX4417-UDC"));
        QCOMPARE(h.log(),
                 (QStringList{"red: Network settings not detected. Attempting to read "
                              "network settings from USB.",
                              "green: USB device connected.", "green: TCP/IP device connected."}));
        QCOMPARE(TestWorkdir::settings(),
                 "127.0.0.1\n255.0.0.0\n127.0.0.1\n" + QByteArray::number(h.sim.port()) + "\n");
        const QStringList received = h.sim.receivedLines();
        QVERIFY(received.indexOf("enet:port?") > received.indexOf("enet:ip?"));

        // Saving them back goes to the instrument over USB, and is reported
        // as saved once every setting went out.
        h.sim.clearReceived();
        const QString port = QString::number(h.sim.port());
        h.window->findChild<NetworkSettingsController *>()->save("127.0.0.1", "255.0.0.0",
                                                                 "127.0.0.1", port.toInt(), 1);
        QTRY_VERIFY(h.log().contains("blue: Settings saved to device."));
        QCOMPARE(h.sim.receivedLines().filter("enet:"),
                 (QStringList{"enet:ip \"127.0.0.1\"", "enet:gateway \"127.0.0.1\"",
                              "enet:submask \"255.0.0.0\"", "enet:port " + port, "enet:prot 1"}));
        QTRY_COMPARE(h.log().last(), QString("green: TCP/IP device connected."));
    }

    // With neither a settings file nor a USB instrument, saving the network
    // settings is enough: "Connect TCP/IP" comes on and one click connects.
    void firstStartWithoutUsbConnectsOnceSaved()
    {
        PanelHarness h;
        QVERIFY(h.sim.start(0));
        qputenv("FAKEVISA_INSTRUMENTS", "");
        h.launch();
        QTRY_VERIFY_WITH_TIMEOUT(TestWorkdir::settings().startsWith("255."), 20000);
        QVERIFY(!h.button("tcpipButton")->isEnabled());

        h.window->findChild<NetworkSettingsController *>()->save("127.0.0.1", "255.0.0.0",
                                                                 "127.0.0.1", h.sim.port(), 1);
        QTRY_VERIFY(h.button("tcpipButton")->isEnabled());
        h.button("tcpipButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.label("statusLabel")->text(),
                                  QString("Connected to KX4417-UDC"), 10000);
    }

    // An instrument of another model is refused over USB; over TCP/IP the
    // link stays up, but the panel never calls it connected.
    void anotherModelIsNeverShownAsConnected()
    {
        InstrumentModel::Config config;
        config.idn = "Acme,X200,SN1,1.0";
        PanelHarness h(config);
        QVERIFY(h.startSim());
        qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(h.sim.port()));

        h.launch();
        QTRY_COMPARE_WITH_TIMEOUT(h.label("statusLabel")->text(),
                                  QString("Connected to unidentified device"), 20000);
        QCOMPARE(h.log(), (QStringList{"red: USB connection failed.",
                                       "red: TCP/IP device did not identify as a KX4417. It "
                                       "replied \"Acme,X200,SN1,1.0\"."}));
        QCOMPARE(h.button("usbButton")->text(), QString("Connect USB"));
    }
    // Once the instrument has identified, over either link, the panel reads
    // its status at once rather than at the next poll or click, and once.
    void statusIsReadOnConnect_data()
    {
        QTest::addColumn<bool>("overUsb");
        QTest::addColumn<bool>("emptyStatus");
        QTest::newRow("TCP/IP") << false << false;
        QTest::newRow("USB") << true << false;
        QTest::newRow("USB, empty status reply") << true << true;
    }

    void statusIsReadOnConnect()
    {
        QFETCH(bool, overUsb);
        QFETCH(bool, emptyStatus);
        PanelHarness h;
        QVERIFY(h.sim.start(0));
        if (emptyStatus)
            h.sim.setFault(SimServer::Fault::EmptyReply, 0, "syst:readstate?");
        qputenv("FAKEVISA_INSTRUMENTS", "");
        TestWorkdir::writeSettings("127.0.0.1", unusedLoopbackPort());
        h.launch();
        QTRY_VERIFY_WITH_TIMEOUT(
            h.button("usbButton")->isEnabled() && h.button("tcpipButton")->isEnabled(), 20000);
        QVERIFY(!h.sim.receivedLines().contains("*IDN?"));

        if (overUsb)
            qputenv("FAKEVISA_INSTRUMENTS", "127.0.0.1:" + QByteArray::number(h.sim.port()));
        else
            TestWorkdir::writeSettings("127.0.0.1", h.sim.port());
        QSignalSpy queries(h.window.get(), &MainWindow::query);
        h.button(overUsb ? "usbButton" : "tcpipButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.label("statusLabel")->text(),
                                  QString("Connected to KX4417-UDC"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(h.sim.receivedLines().contains("syst:readstate?"), 1000);
        int statusQueries = 0;
        for (const QList<QVariant> &emitted : queries)
            statusQueries += emitted.at(1).value<calling_mode_t>() == MODE_STATUS;
        QCOMPARE(statusQueries, 1);
        // Counted as a bad read, which reopens the link.
        if (emptyStatus)
            QTRY_VERIFY_WITH_TIMEOUT(h.log().contains("red: Bad status read."), 5000);
    }
};

QTEST_MAIN(TestUsbStartup)
#include "tst_usbstartup.moc"
