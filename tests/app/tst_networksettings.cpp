#include "networksettings.h"
#include "networksettingscontroller.h"
#include "panelharness.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <functional>
#include <memory>

namespace
{
const QByteArray fileContent = "10.1.2.3\n255.255.0.0\n10.1.2.254\n5025\n";
const QStringList fileShown = {"10.1.2.3", "255.255.0.0", "10.1.2.254", "5025"};
} // namespace

class TestNetworkSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> h;
    NetworkSettings *dialog = nullptr;
    QStringList boxSaid;      // text, informative text, whether it was an information box
    QPointer<QTimer> boxPoll; // answers the boxes of the current step

    QLineEdit *box(const QString &name) const { return dialog->findChild<QLineEdit *>(name); }
    QList<QLineEdit *> octets() const
    {
        return dialog->findChildren<QLineEdit *>(QRegularExpression("_\\d$"));
    }
    // The three addresses and the port as the dialog shows them.
    QStringList shown() const
    {
        QStringList values;
        for (const char *row : {"ipAddress_%1", "subnet_%1", "gateway_%1"})
            values << QStringList{box(QString(row).arg(1))->text(),
                                  box(QString(row).arg(2))->text(),
                                  box(QString(row).arg(3))->text(),
                                  box(QString(row).arg(4))->text()}
                          .join('.');
        return values << box("port")->text();
    }
    void click(const char *name) { dialog->findChild<QAbstractButton *>(name)->click(); }
    void open() { h->button("editNetworkButton")->click(); }

    // Answers the next message box once it is up and `ready` holds (or 5 s
    // have passed), noting what it said. Until the next call, any later box
    // is refused and noted, so an unexpected one never blocks the test.
    void answerNextBox(
        QMessageBox::StandardButton answer, std::function<bool()> ready = [] { return true; })
    {
        delete boxPoll;
        auto *poll = new QTimer(this);
        boxPoll = poll;
        auto answered = std::make_shared<bool>(false);
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        connect(poll, &QTimer::timeout, this, [this, answer, ready, answered, clock] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (*answered) {
                boxSaid << "unexpected: " + box->text();
                box->reject();
                return;
            }
            if (!ready() && clock->elapsed() < 5000)
                return;
            *answered = true;
            boxSaid =
                QStringList{box->text(), box->informativeText(),
                            box->icon() == QMessageBox::Information ? "information" : "other"};
            if (box->defaultButton() && box->defaultButton() == box->button(QMessageBox::Yes))
                boxSaid << "Yes is the default";
            if (QAbstractButton *button = box->button(answer))
                button->click();
            else
                box->reject();
        });
        poll->start(10);
    }

    void build(const QByteArray &content)
    {
        QVERIFY(TestWorkdir::writeSettings(content));
        h->build();
        dialog = h->window->findChild<NetworkSettings *>();
    }
    void launchConnected()
    {
        LAUNCH_CONNECTED(*h);
        dialog = h->window->findChild<NetworkSettings *>();
    }

private slots:
    void init()
    {
        h = std::make_unique<PanelHarness>();
        boxSaid.clear();
    }

    void cleanup()
    {
        // A box that never came must not be answered in the next case.
        qDeleteAll(findChildren<QTimer *>());
        dialog = nullptr;
        h.reset();
    }

    void editingWithoutALink()
    {
        build(fileContent);
        QSignalSpy results(dialog, &NetworkSettings::result);
        open();
        QVERIFY(dialog->isVisible());
        QCOMPARE(shown(), fileShown);

        QCOMPARE(octets().size(), 12);
        for (QLineEdit *octet : octets()) {
            QCOMPARE(octet->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
            QTest::keyClicks(octet, "1234");
            QCOMPARE(octet->text().size(), 3);
        }
        box("port")->clear();
        QTest::keyClicks(box("port"), "1234567");
        QCOMPARE(box("port")->text(), QString("1234567"));
        box("ipAddress_4")->setText("3");
        box("port")->setText("1234");

        // Save answered No: nothing leaves the dialog.
        answerNextBox(QMessageBox::No);
        click("saveButton");
        QCOMPARE(boxSaid, QStringList({"Warning: If you are connected to the device via USB, this "
                                       "will overwrite the network settings on the device.",
                                       "Are you sure you wish to proceed?", "information",
                                       "Yes is the default"}));
        QCOMPARE(results.count(), 0);
        QVERIFY(dialog->isVisible());
        QCOMPARE(box("ipAddress_1")->text(), QString("101"));
        QCOMPARE(TestWorkdir::settings(), fileContent);

        // Load from Device without a link says so and keeps the typed values.
        answerNextBox(QMessageBox::Ok);
        click("loadDeviceButton");
        QCOMPARE(boxSaid.mid(0, 3),
                 QStringList({"You are not connected to a device.", "", "information"}));
        QCOMPARE(box("port")->text(), QString("1234"));

        // Reopening after Cancel shows the file, not the abandoned edits.
        click("cancelButton");
        QVERIFY(!dialog->isVisible());
        open();
        QCOMPARE(shown(), fileShown);
    }

    void shortOrMissingFileLeavesNoStaleParts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("short parts and lines")
            << QByteArray("10.1\n\n1.2.3.4.5") << QStringList({"10.1..", "...", "1.2.3.4", "0"});
        QTest::newRow("no file") << QByteArray() << QStringList({"...", "...", "...", ""});
    }
    void shortOrMissingFileLeavesNoStaleParts()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        build(content);
        if (content.isEmpty())
            QVERIFY(QFile::remove("ipdata.vnf"));
        dialog->networkSettingsFromFile("9.9.9.9", "9.9.9.9", "9.9.9.9", 9);
        open();
        QCOMPARE(shown(), expected);
    }

    void withOnlyTcpUpLoadsFromTheInstrumentAndSavesOnlyTheFile()
    {
        launchConnected();
        h->sim.setReply("enet:ip?", "192.168.7.20");
        h->sim.setReply("enet:gateway?", "192.168.7.1");
        h->sim.setReply("enet:submask?", "255.255.252.0");
        h->sim.setReply("enet:port?", "5025");
        open();
        click("loadDeviceButton");
        QTRY_COMPARE(shown(),
                     QStringList({"192.168.7.20", "255.255.252.0", "192.168.7.1", "5025"}));

        box("port")->setText("5026");
        box("ipAddress_4")->setText("2\n0");
        h->sim.clearReceived();
        answerNextBox(QMessageBox::Yes);
        click("saveButton");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(TestWorkdir::settings(),
                 QByteArray("192.168.7.20\n255.255.252.0\n192.168.7.1\n5026\n"));
        QVERIFY(h->log().contains("blue: Updating network settings."));
        QVERIFY(!h->log().contains("blue: Settings saved to device."));
        // Everything sent before the sentinel has arrived once it has.
        emit h->window->command("*cls");
        QTRY_VERIFY(h->sim.receivedLines().contains("*cls"));
        QCOMPARE(h->sim.receivedLines(), QStringList("*cls"));
    }

    // The window believes USB and TCP are up; its signals show what it asks
    // of the link, and it answers for the instrument once every setting
    // has been answered for.
    void saveWithUsbWritesTheInstrumentBetweenCloseAndReconnect()
    {
        build(fileContent);
        MainWindow *w = h->window.get();
        w->updateConnStatus(connStatus_t{true, true});
        QStringList sent;
        connect(w, &MainWindow::closeTCP, this, [&] { sent << "closeTCP"; });
        connect(w, &MainWindow::connectTCP, this, [&] { sent << "connectTCP"; });
        connect(w, &MainWindow::deliverCommand, this, [&](const QString &c) { sent << c; });
        auto *settings = w->findChild<NetworkSettingsController *>();

        settings->save("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 0);
        QCOMPARE(sent, QStringList({"closeTCP", "enet:ip \"10.0.0.5\"", "enet:gateway \"10.0.0.1\"",
                                    "enet:submask \"255.255.255.0\"", "enet:port 5025",
                                    "enet:prot 1", "connectTCP"}));
        QCOMPARE(TestWorkdir::settings(), QByteArray("10.0.0.5\n255.255.255.0\n10.0.0.1\n5025\n"));
        QCOMPARE(h->log().last(), QString("blue: Updating network settings."));
        for (int i = 0; i < 5; ++i)
            settings->handleCommandDelivered(true);
        QCOMPARE(h->log().last(), QString("blue: Settings saved to device."));

        settings->save("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 1);
        for (bool delivered : {true, true, false, true, true})
            settings->handleCommandDelivered(delivered);
        QCOMPARE(h->log().last(), QString("red: Not every setting could be saved to device. Its "
                                          "network settings may be only partly changed."));

        // The next save is judged on its own answers.
        settings->save("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 1);
        for (int i = 0; i < 5; ++i)
            settings->handleCommandDelivered(true);
        QCOMPARE(h->log().last(), QString("blue: Settings saved to device."));
    }

    // The USB link went away before the window heard of it: the connection
    // drops the settings, and the log must not say they were saved.
    void saveToInstrumentWithUsbGone()
    {
        launchConnected();
        h->window->updateConnStatus(connStatus_t{true, true});
        open();
        answerNextBox(QMessageBox::Yes);
        click("saveButton");
        QTRY_VERIFY(h->log().contains("red: Settings could not be saved to device. Its network "
                                      "settings were not changed."));
        QVERIFY(!h->log().contains("blue: Settings saved to device."));
        QCOMPARE(boxSaid.size(), 4);
        // The TCP/IP link comes back, and no setting ever reached the instrument.
        QTRY_COMPARE(h->log().last(), QString("green: TCP/IP device connected."));
        QVERIFY(h->sim.receivedLines().filter("enet:").isEmpty());
    }

    void saveRefusesInvalidEntries_data()
    {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("field");
        const auto row = [](const char *name, const char *boxName, const char *typed,
                            const char *field) {
            QTest::newRow(name) << QString(boxName) << QString(typed) << QString(field);
        };
        row("octet above 255", "ipAddress_2", "256", "IP Address");
        row("octet not a number", "subnet_4", "2a", "Subnet Mask");
        row("empty octet", "gateway_1", "", "Gateway");
        row("negative octet", "gateway_3", "-1", "Gateway");
        row("port not a number", "port", "abc", "Port");
        row("port 0", "port", "0", "Port");
        row("port above range", "port", "65536", "Port");
    }
    void saveRefusesInvalidEntries()
    {
        QFETCH(QString, boxName);
        QFETCH(QString, typed);
        QFETCH(QString, field);
        build(fileContent);
        MainWindow *w = h->window.get();
        w->updateConnStatus(connStatus_t{false, true});
        QSignalSpy results(dialog, &NetworkSettings::result);
        QSignalSpy sent(w, &MainWindow::deliverCommand);
        open();
        box(boxName)->setText(typed);

        answerNextBox(QMessageBox::Ok);
        click("saveButton");
        QVERIFY2(boxSaid.value(0).startsWith(field, Qt::CaseInsensitive),
                 qPrintable(boxSaid.join(" | ")));
        QCOMPARE(boxSaid.value(2), QString("other"));
        QCOMPARE(boxSaid.size(), 3); // no confirmation asked after it
        QVERIFY(dialog->isVisible());
        QCOMPARE(box(boxName)->text(), typed);
        QCOMPARE(results.count(), 0);
        QCOMPARE(sent.count(), 0);
        QCOMPARE(TestWorkdir::settings(), fileContent);
    }

    // What the file already holds, the defaults included, is saved as it is.
    void saveAcceptsTheDefaults()
    {
        build("255.255.255.255\n255.255.255.255\n255.255.255.255\n65535\n");
        QSignalSpy results(dialog, &NetworkSettings::result);
        open();
        answerNextBox(QMessageBox::Yes);
        click("saveButton");
        QCOMPARE(results.count(), 1);
        QCOMPARE(TestWorkdir::settings(),
                 QByteArray("255.255.255.255\n255.255.255.255\n255.255.255.255\n65535\n"));
    }

    // A reply to "Load from Device" that arrives while the confirmation is
    // up refills the boxes; Save still writes what was on screen when clicked.
    void saveKeepsTheEntriesOfItsClick()
    {
        launchConnected();
        h->sim.setReply("enet:ip?", "192.168.7.20");
        h->sim.setReply("enet:gateway?", "192.168.7.1");
        h->sim.setReply("enet:submask?", "255.255.252.0");
        h->sim.setReply("enet:port?", "5025");
        h->sim.setFault(SimServer::Fault::DelayReply, 300, "enet:port?");
        open();
        box("ipAddress_4")->setText("9");
        box("port")->setText("6000");
        const QByteArray typed = "127.0.0.9\n255.255.255.0\n127.0.0.1\n6000\n";

        click("loadDeviceButton");
        const QStringList device = {"192.168.7.20", "255.255.252.0", "192.168.7.1", "5025"};
        answerNextBox(QMessageBox::Yes, [&] { return shown() == device; });
        click("saveButton");
        QCOMPARE(shown(), device);
        QCOMPARE(TestWorkdir::settings(), typed);
    }

    // Root writes anywhere, so a link into a missing folder stands in for a
    // settings file that cannot be written, at start-up and at Save.
    void unwritableFileIsReported()
    {
#ifndef Q_OS_UNIX
        QSKIP("A link into a missing folder stands in for an unwritable file on Unix only");
#endif
        QVERIFY(QFile::link("no-such-folder/ipdata.vnf", "ipdata.vnf"));
        h->launch();
        const QString notWritten = "red: Network settings could not be written to ipdata.vnf.";
        QTRY_VERIFY(h->log().contains(notWritten));
        QCOMPARE(h->log().count(notWritten), 1);

        h->window->findChild<NetworkSettingsController *>()->save("10.0.0.5", "255.255.255.0",
                                                                  "10.0.0.1", 5025, 1);
        QCOMPARE(h->log().last(), notWritten);
        QCOMPARE(h->log().count(notWritten), 2);
    }
};

QTEST_MAIN(TestNetworkSettings)
#include "tst_networksettings.moc"
