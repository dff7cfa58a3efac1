#include "networksettings.h"
#include "panelharness.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace
{
const QByteArray fileContent = "10.1.2.3\n255.255.0.0\n10.1.2.254\n5025\n";
const QStringList fileShown = {"10.1.2.3", "255.255.0.0", "10.1.2.254", "5025"};

QByteArray readFile()
{
    QFile file("ipdata.vnf");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestNetworkSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> h;
    NetworkSettings *dialog = nullptr;
    QStringList boxSaid; // text, informative text, whether it was an information box

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

    // Answers the next message box once it is up, noting what it said.
    void answerNextBox(QMessageBox::StandardButton answer)
    {
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll->stop();
            boxSaid =
                QStringList{box->text(), box->informativeText(),
                            box->icon() == QMessageBox::Information ? "information" : "other"};
            if (box->defaultButton() == box->button(QMessageBox::Yes))
                boxSaid << "Yes is the default";
            box->button(answer)->click();
        });
        poll->start(10);
    }

    void build(const QByteArray &content)
    {
        QFile file("ipdata.vnf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        h->build();
        dialog = h->window->findChild<NetworkSettings *>();
    }
    void launchConnected()
    {
        QVERIFY(h->startSim());
        h->launch();
        WAIT_CONNECTED(*h);
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
        QCOMPARE(readFile(), fileContent);

        // Load from Device without a link says so and keeps the typed values.
        answerNextBox(QMessageBox::Ok);
        click("loadDeviceButton");
        QCOMPARE(boxSaid.mid(0, 3),
                 QStringList({"You are not connected to a device.", "", "information"}));
        QCOMPARE(box("port")->text(), QString("1234567"));

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

        box("port")->setText("5o25");
        box("ipAddress_4")->setText("2\n0");
        h->sim.clearReceived();
        answerNextBox(QMessageBox::Yes);
        click("saveButton");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(readFile(), QByteArray("192.168.7.20\n255.255.252.0\n192.168.7.1\n0\n"));
        QVERIFY(h->log().contains("blue: Updating network settings."));
        QVERIFY(!h->log().contains("blue: Settings saved to device."));
        // Everything sent before the sentinel has arrived once it has.
        emit h->window->command("*cls");
        QTRY_VERIFY(h->sim.receivedLines().contains("*cls"));
        QCOMPARE(h->sim.receivedLines(), QStringList("*cls"));
    }

    // The window believes USB and TCP are up; its signals show what it asks of the link.
    void saveWithUsbWritesTheInstrumentBetweenCloseAndReconnect()
    {
        build(fileContent);
        MainWindow *w = h->window.get();
        w->updateConnStatus(connStatus_t{true, true});
        QStringList sent;
        connect(w, &MainWindow::closeTCP, this, [&] { sent << "closeTCP"; });
        connect(w, &MainWindow::connectTCP, this, [&] { sent << "connectTCP"; });
        connect(w, &MainWindow::command, this, [&](const QString &c) { sent << c; });

        w->handleNetworkSettings("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 0);
        QCOMPARE(sent, QStringList({"closeTCP", "enet:ip \"10.0.0.5\"", "enet:gateway \"10.0.0.1\"",
                                    "enet:submask \"255.255.255.0\"", "enet:port 5025",
                                    "enet:prot 1", "connectTCP"}));
        QCOMPARE(h->log().last(), QString("blue: Settings saved to device."));
        QCOMPARE(readFile(), QByteArray("10.0.0.5\n255.255.255.0\n10.0.0.1\n5025\n"));
    }

    void saveReportsAnUnwritableFile()
    {
        h->build();
        QVERIFY(QDir().mkdir("ipdata.vnf"));
        h->window->handleNetworkSettings("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 1);
        QCOMPARE(h->log().last(),
                 QString("red: Network settings could not be written to ipdata.vnf."));
    }
};

QTEST_MAIN(TestNetworkSettings)
#include "tst_networksettings.moc"
