#include "logpane.h"
#include "loopback.h"
#include "panelharness.h"
#include "savedstatescontroller.h"

#include <QGroupBox>
#include <QSignalSpy>
#include <QtTest>

namespace
{
const char *const groupBoxes[] = {"tuneFreqBox", "rfAttenBox", "lnaBox",  "refSelectBox",
                                  "refFreq_box", "lo1box",     "ifBox",   "statesBox",
                                  "lockBox",     "filterBox",  "pllmBox", "physicalBox"};

bool panelEnabled(const PanelHarness &h, bool enabled)
{
    for (const char *name : groupBoxes)
        if (h.find<QGroupBox>(name)->isEnabled() != enabled)
            return false;
    return h.button("statusButton")->isEnabled() == enabled &&
           h.find<QGroupBox>("networkBox")->isEnabled();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startsDisabledAndWarnsWithoutSettingsFile()
    {
        PanelHarness h;
        h.build();
        QVERIFY(panelEnabled(h, false));
        QCOMPARE(h.label("statusLabel")->text(), QString("Device not found"));
        QCOMPARE(h.button("usbButton")->text(), QString("Connect USB"));
        QCOMPARE(h.button("tcpipButton")->text(), QString("Connect TCP/IP"));
        QVERIFY(!h.button("usbButton")->isEnabled());
        QVERIFY(!h.button("tcpipButton")->isEnabled());
        QCOMPARE(h.log(), QStringList{"red: Network settings not detected. Attempting to read "
                                      "network settings from USB."});

        QTimer *timer = h.find<QTimer>("statusTimer");
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 6000);
    }

    void connectsByItselfAtStart()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);
        QVERIFY(panelEnabled(h, true));
        QCOMPARE(h.button("tcpipButton")->text(), QString("Disconnect TCP/IP"));
        QVERIFY(h.button("tcpipButton")->isEnabled());
        QCOMPARE(h.button("usbButton")->text(), QString("Connect USB"));
        QVERIFY(h.log().contains("green: TCP/IP device connected."));
        QVERIFY(!h.log().join('\n').contains("Network settings not detected"));
    }

    void disconnectAndReconnectTcp()
    {
        PanelHarness h;
        LAUNCH_CONNECTED(h);
        QAbstractButton *tcp = h.button("tcpipButton");

        tcp->click();
        QTRY_COMPARE(tcp->text(), QString("Connect TCP/IP"));
        QVERIFY(tcp->isEnabled());
        QVERIFY(panelEnabled(h, false));
        QCOMPARE(h.label("statusLabel")->text(), QString("Device not found"));
        QTRY_COMPARE(h.sim.connectionCount(), 0);
        QCOMPARE(h.log().count("red: TCP device disconnected."), 1);

        tcp->click();
        QVERIFY(!tcp->isEnabled());
        QTRY_COMPARE(tcp->text(), QString("Disconnect TCP/IP"));
        QTRY_VERIFY(tcp->isEnabled());
        QVERIFY(panelEnabled(h, true));
        QCOMPARE(h.label("statusLabel")->text(), QString("Connected to KX4417-UDC"));
        QCOMPARE(h.log().count("green: TCP/IP device connected."), 2);
        QTRY_VERIFY(h.sim.receivedLines().contains("syst:bootstate?"));
    }

    void refusedAddressLogsTimeout()
    {
        PanelHarness h;
        TestWorkdir::writeSettings("127.0.0.1", unusedLoopbackPort());
        h.launch();
        QTRY_VERIFY_WITH_TIMEOUT(h.log().contains("red: TCP/IP connection timed out. Check "
                                                  "connections and network settings."),
                                 20000);
        QTRY_VERIFY(h.button("tcpipButton")->isEnabled());
        QVERIFY(panelEnabled(h, false));
        QCOMPARE(h.label("statusLabel")->text(), QString("Device not found"));
    }

    void instrumentTextIsShownLiterally()
    {
        InstrumentModel::Config config;
        config.idn = "Ostrelin,KX4417-<b>UDC</b>,SN1,1.0";
        PanelHarness h(config);
        QVERIFY(h.startSim());
        h.launch();
        QLabel *status = h.label("statusLabel");
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("Connected to KX4417-<b>UDC</b>"), 20000);
        QCOMPARE(status->textFormat(), Qt::PlainText);
        for (const char *name : {"tuneActLabel", "lo1freqLabel", "rfAttenLabel", "filterLabel",
                                 "tempLabel", "currLabel", "refFreqLabel"})
            QCOMPARE(h.label(name)->textFormat(), Qt::PlainText);
    }

    // The link stays up and the panel usable, but the operator is told.
    void unidentifiedInstrumentIsReported_data()
    {
        QTest::addColumn<QString>("idn"); // empty: the instrument never answers
        QTest::addColumn<QString>("logLine");
        const QString start = "red: TCP/IP device did not identify as a KX4417. ";
        QTest::newRow("silent") << QString() << start + "It gave no reply.";
        const QString shown = "Acme,<b>X200</b>,%1," + QString(44, '7');
        QTest::newRow("another model")
            << shown + "777777" << start + "It replied \"" + shown + "...\".";
        QTest::newRow("ESC and a direction override")
            << QString("Acme\x1b[2J\u202eX") << start + "It replied \"Acme\ufffd[2J\ufffdX\".";
    }

    void unidentifiedInstrumentIsReported()
    {
        QFETCH(QString, idn);
        QFETCH(QString, logLine);
        InstrumentModel::Config config;
        if (!idn.isEmpty())
            config.idn = idn;
        PanelHarness h(config);
        QVERIFY(h.startSim());
        if (idn.isEmpty())
            h.sim.setFault(SimServer::Fault::NoReply, 0, "*IDN?");
        h.launch();
        QSignalSpy queries(h.window.get(), &MainWindow::query);
        QTRY_COMPARE_WITH_TIMEOUT(h.label("statusLabel")->text(),
                                  QString("Connected to unidentified device"), 20000);
        // Its reply to a status query would not be a status.
        QCOMPARE(queries.count(), 1);
        QCOMPARE(queries[0][1].value<calling_mode_t>(), MODE_STATE_LIST);
        QVERIFY2(h.log().contains(logLine), qPrintable(h.log().join('\n')));
        QVERIFY(!h.log().join('\n').contains("green"));
        QCOMPARE(h.button("tcpipButton")->text(), QString("Disconnect TCP/IP"));
        QVERIFY(panelEnabled(h, true));
    }

    void repliesAreRoutedByMode()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        const QString reply = "1.0,2.0,3,0,1,1,1,0,0,0,50,1,0,20.0,0.5,1";
        const QStringList logBefore = h.log();

        w.handleQueryResponse(reply, MODE_IDENTIFY);
        w.handleQueryResponse(reply, MODE_NETWORK);
        w.handleQueryResponse(reply, MODE_STATE_LIST);
        QCOMPARE(h.label("tuneActLabel")->text(), QString("0.0000"));
        QCOMPARE(h.label("lnaLabel")->text(), QString("OFF"));
        QCOMPARE(h.log(), logBefore);

        w.handleQueryResponse(reply, MODE_STATUS);
        QCOMPARE(h.label("tuneActLabel")->text(), QString("2.0"));
        QCOMPARE(h.label("lnaLabel")->text(), QString("ON"));
    }

    void savedStateRepliesRebuildTheList()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        w.updateConnStatus(connStatus_t{true, false});
        QSignalSpy opened(w.findChild<SavedStatesController *>(),
                          &SavedStatesController::openDialog);

        w.handleQueryResponse("10.0000,3,0,1;x,y", MODE_STATE_LIST);
        w.handleQueryResponse("12.5,7;18.0", MODE_STATE_LIST);
        h.button("loadStateButton")->click();
        w.handleQueryResponse("", MODE_STATE_LIST);
        h.button("saveStateButton")->click();

        QCOMPARE(opened.count(), 2);
        QCOMPARE(opened[0][1].value<QList<QStringList>>(),
                 QList<QStringList>({{"12.5", "7"}, {"18.0"}}));
        QCOMPARE(opened[1][1].value<QList<QStringList>>(), QList<QStringList>{{""}});
    }

    void usbConnectionOutcomes()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        QSignalSpy queries(&w, &MainWindow::query);

        w.handleUSBConnFinished("-1");
        w.handleUSBConnFinished("-2");
        QCOMPARE(h.log().mid(1),
                 QStringList({"red: USB connection failed.",
                              "red: No USB devices available. Check connections."}));
        QVERIFY(h.button("usbButton")->isEnabled());
        QCOMPARE(h.label("statusLabel")->text(), QString("Device not found"));
        QCOMPARE(queries.count(), 0);

        w.updateConnStatus(connStatus_t{false, true});
        w.handleUSBConnFinished("KX4417-UDC");
        QCOMPARE(h.label("statusLabel")->text(), QString("Connected to KX4417-UDC"));
        QCOMPARE(h.log().last(), QString("green: USB device connected."));
        QCOMPARE(h.button("usbButton")->text(), QString("Disconnect USB"));
        QCOMPARE(queries.count(), 2);
        QCOMPARE(queries[0][0].toString(), QString("syst:bootstate?"));
        QCOMPARE(queries[0][1].value<calling_mode_t>(), MODE_STATE_LIST);
        QCOMPARE(queries[1][0].toString(), QString("syst:readstate?"));
        QCOMPARE(queries[1][1].value<calling_mode_t>(), MODE_STATUS);

        // The silent reconnection after a bad status read does not read the
        // status again by itself, or a failing read would reconnect for ever.
        queries.clear();
        w.handleStatus("");
        w.handleUSBConnFinished("KX4417-UDC");
        QCOMPARE(queries.count(), 1);
        QCOMPARE(queries[0][1].value<calling_mode_t>(), MODE_STATE_LIST);
    }

    void usbSuccessWhileTcpIsUpKeepsLabelAndStates()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        w.updateConnStatus(connStatus_t{true, false});
        w.handleTCPConnFinished("KX4417-UDC");
        QSignalSpy queries(&w, &MainWindow::query);

        w.updateConnStatus(connStatus_t{true, true});
        w.handleUSBConnFinished("KX4417-OTHER");
        QCOMPARE(h.label("statusLabel")->text(), QString("Connected to KX4417-UDC"));
        QCOMPARE(h.log().last(), QString("green: USB device connected."));
        QCOMPARE(queries.count(), 0);
    }

    void connectButtonsWaitForTheirOutcome()
    {
        PanelHarness h;
        MainWindow &w = h.build();
        QSignalSpy connectUsb(&w, &MainWindow::connectUSB);
        QSignalSpy closeUsb(&w, &MainWindow::closeUSB);
        w.handleUSBConnFinished("-2");

        h.button("usbButton")->click();
        QCOMPARE(connectUsb.count(), 1);
        QVERIFY(!h.button("usbButton")->isEnabled());
        w.handleUSBConnFinished("-1");
        QVERIFY(h.button("usbButton")->isEnabled());

        w.updateConnStatus(connStatus_t{false, true});
        h.button("usbButton")->click();
        QCOMPARE(closeUsb.count(), 1);
        QCOMPARE(connectUsb.count(), 1);
        QCOMPARE(h.button("usbButton")->text(), QString("Disconnect USB"));
        QVERIFY(h.button("usbButton")->isEnabled());

        w.updateConnStatus(connStatus_t{false, false});
        QCOMPARE(h.button("usbButton")->text(), QString("Connect USB"));
        QCOMPARE(h.log().last(), QString("red: USB device disconnected."));
        QVERIFY(panelEnabled(h, false));
    }

    void logFollowsTheNewestAndKeepsAThousandEntries()
    {
        PanelHarness h;
        h.build();
        QTextEdit *logger = h.find<QTextEdit>("logger");
        logger->moveCursor(QTextCursor::Start);
        h.window->handleUSBConnFinished("-2");
        QVERIFY(logger->textCursor().atEnd());
        QVERIFY(!logger->textCursor().hasSelection());
        h.button("logClearButton")->click();
        QVERIFY(logger->document()->isEmpty());

        // The limit holds after a clear too, and the oldest entries go first.
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        h.window->handleUSBConnFinished("-1");
        for (int i = 0; i < 1000; ++i)
            h.window->handleUSBConnFinished("-2");
        const QStringList log = h.log();
        QCOMPARE(log.count(), 1000);
        QVERIFY(!log.contains("red: USB connection failed."));
        QCOMPARE(log.last(), QString("red: No USB devices available. Check connections."));

        // Saved, the log holds the same entries, each behind the time it was added.
        const QDateTime after = QDateTime::currentDateTime();
        QString error;
        QVERIFY(h.window->findChild<LogPane *>()->saveAs("log.txt", &error));
        QFile saved("log.txt");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(saved.readAll())
                .split(QString::fromLatin1(TestWorkdir::nativeLines("\n")), Qt::SkipEmptyParts);
        QCOMPARE(lines.count(), 1000);
        for (const QString &line : {lines.first(), lines.last()}) {
            const QDateTime time =
                QDateTime::fromString(line.section("  ", 0, 0), Qt::ISODateWithMs);
            QVERIFY2(time.isValid() && time >= before && time <= after, qPrintable(line));
            QCOMPARE(line.section("  ", 1),
                     QString("No USB devices available. Check connections."));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
