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
const char *const rows[] = {"ipAddress", "subnet", "gateway"};
const QByteArray fileContent = "10.1.2.3\n255.255.0.0\n10.1.2.254\n5025\n";

QByteArray readFile()
{
    QFile file("ipdata.vnf");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QByteArray &content)
{
    QFile file("ipdata.vnf");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

class TestNetworkSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<PanelHarness> h;
    NetworkSettings *dialog = nullptr;
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    QStringList boxTexts;

    QLineEdit *box(const QString &name) const { return dialog->findChild<QLineEdit *>(name); }
    QList<QLineEdit *> octetBoxes() const
    {
        QList<QLineEdit *> boxes;
        for (const char *row : rows)
            for (int i = 1; i <= 4; ++i)
                boxes << box(QString("%1_%2").arg(row).arg(i));
        return boxes;
    }
    // The three addresses and the port as the dialog shows them.
    QStringList shown() const
    {
        QStringList values;
        const QList<QLineEdit *> boxes = octetBoxes();
        for (int row = 0; row < 3; ++row) {
            QStringList parts;
            for (int i = 0; i < 4; ++i)
                parts << boxes.at(row * 4 + i)->text();
            values << parts.join('.');
        }
        return values << box("port")->text();
    }
    void click(const char *name) { dialog->findChild<QAbstractButton *>(name)->click(); }

    // Answers the next message box once it is up, noting what it said.
    void answerNextBox(QMessageBox::StandardButton answer)
    {
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll->stop();
            poll->deleteLater();
            boxIcon = box->icon();
            boxTexts = QStringList{box->text(), box->informativeText()};
            if (box->defaultButton() &&
                box->standardButton(box->defaultButton()) == QMessageBox::Yes)
                boxTexts << "Yes is the default";
            box->button(answer)->click();
        });
        poll->start(10);
    }

    // Waits until the instrument has received everything the panel sent so far.
    QStringList linesReceived()
    {
        emit h->window->command("*cls");
        if (!QTest::qWaitFor([this] { return h->sim.receivedLines().contains("*cls"); }, 10000))
            qWarning("the instrument never received the sentinel");
        return h->sim.receivedLines();
    }

    void buildWithFile(const QByteArray &content)
    {
        writeFile(content);
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
        boxIcon = QMessageBox::NoIcon;
        boxTexts.clear();
    }

    void cleanup()
    {
        // A box that never came must not be answered in the next case.
        qDeleteAll(findChildren<QTimer *>());
        dialog = nullptr;
        h.reset();
    }

    void openingShowsTheFileAndForgetsUnsavedEdits()
    {
        buildWithFile(fileContent);
        QVERIFY(!dialog->isVisible());
        h->button("editNetworkButton")->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QString("Network Settings"));
        QCOMPARE(shown(), QStringList({"10.1.2.3", "255.255.0.0", "10.1.2.254", "5025"}));

        for (QLineEdit *octet : octetBoxes()) {
            QCOMPARE(octet->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
            octet->clear();
            QTest::keyClicks(octet, "1234");
            QCOMPARE(octet->text(), QString("123"));
        }
        box("port")->clear();
        QTest::keyClicks(box("port"), "1234567");
        QCOMPARE(box("port")->text(), QString("1234567"));

        click("cancelButton");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(readFile(), fileContent);
        h->button("editNetworkButton")->click();
        QCOMPARE(shown(), QStringList({"10.1.2.3", "255.255.0.0", "10.1.2.254", "5025"}));
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
        buildWithFile(content);
        if (content.isEmpty())
            QVERIFY(QFile::remove("ipdata.vnf"));
        dialog->networkSettingsFromFile("9.9.9.9", "9.9.9.9", "9.9.9.9", 9);

        h->button("editNetworkButton")->click();
        QCOMPARE(shown(), expected);
    }

    void saveAnsweredNoKeepsEverything()
    {
        buildWithFile(fileContent);
        QSignalSpy results(dialog, &NetworkSettings::result);
        h->button("editNetworkButton")->click();
        box("ipAddress_4")->setText("77");

        answerNextBox(QMessageBox::No);
        click("saveButton");
        QCOMPARE(boxIcon, QMessageBox::Information);
        QCOMPARE(boxTexts,
                 QStringList({"Warning: If you are connected to the device via USB, this "
                              "will overwrite the network settings on the device.",
                              "Are you sure you wish to proceed?", "Yes is the default"}));
        QCOMPARE(results.count(), 0);
        QVERIFY(dialog->isVisible());
        QCOMPARE(box("ipAddress_4")->text(), QString("77"));
        QCOMPARE(readFile(), fileContent);
    }

    void saveOverTcpOnlyRewritesTheFile()
    {
        launchConnected();
        h->button("editNetworkButton")->click();
        box("gateway_4")->setText("254");
        box("port")->setText("5o25");

        answerNextBox(QMessageBox::Yes);
        click("saveButton");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(readFile(), QByteArray("127.0.0.1\n255.255.255.0\n127.0.0.254\n0\n"));
        QVERIFY(h->log().contains("blue: Updating network settings."));
        QVERIFY(!h->log().contains("blue: Settings saved to device."));
        for (const QString &line : linesReceived())
            QVERIFY2(!line.startsWith("enet:"), qPrintable(line));
    }

    // The window believes USB is up; its own signals show what it asks of the link.
    void saveWithUsbWritesTheInstrumentBetweenCloseAndReconnect()
    {
        for (const bool tcpUp : {true, false}) {
            // One folder at a time: the old one restores the working directory it found.
            h.reset();
            h = std::make_unique<PanelHarness>();
            buildWithFile(fileContent);
            h->window->updateConnStatus(connStatus_t{tcpUp, true});
            QStringList sent;
            MainWindow *w = h->window.get();
            connect(w, &MainWindow::closeTCP, this, [&] { sent << "closeTCP"; });
            connect(w, &MainWindow::connectTCP, this, [&] { sent << "connectTCP"; });
            connect(w, &MainWindow::command, this, [&](const QString &c) { sent << c; });

            w->handleNetworkSettings("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 0);
            QStringList expected = {"closeTCP",
                                    "enet:ip \"10.0.0.5\"",
                                    "enet:gateway \"10.0.0.1\"",
                                    "enet:submask \"255.255.255.0\"",
                                    "enet:port 5025",
                                    "enet:prot 1"};
            if (tcpUp)
                expected << "connectTCP";
            QCOMPARE(sent, expected);
            QCOMPARE(h->log().last(), QString("blue: Settings saved to device."));
            QCOMPARE(readFile(), QByteArray("10.0.0.5\n255.255.255.0\n10.0.0.1\n5025\n"));
        }
    }

    void saveReportsAnUnwritableFile()
    {
        h->build();
        QVERIFY(QDir().mkdir("ipdata.vnf"));
        h->window->handleNetworkSettings("10.0.0.5", "255.255.255.0", "10.0.0.1", 5025, 1);
        QCOMPARE(h->log().last(),
                 QString("red: Network settings could not be written to ipdata.vnf."));
    }

    void loadFromDeviceShowsTheInstrumentsSettings()
    {
        launchConnected();
        h->sim.setReply("enet:ip?", "192.168.7.20");
        h->sim.setReply("enet:gateway?", "192.168.7.1");
        h->sim.setReply("enet:submask?", "255.255.252.0");
        h->sim.setReply("enet:port?", "5025");
        h->button("editNetworkButton")->click();
        click("loadDeviceButton");
        QTRY_COMPARE(shown(),
                     QStringList({"192.168.7.20", "255.255.252.0", "192.168.7.1", "5025"}));
    }

    void loadFromDeviceWithoutLinkTellsTheOperator()
    {
        buildWithFile(fileContent);
        h->button("editNetworkButton")->click();
        box("subnet_1")->setText("1");

        answerNextBox(QMessageBox::Ok);
        click("loadDeviceButton");
        QCOMPARE(boxIcon, QMessageBox::Information);
        QCOMPARE(boxTexts.value(0), QString("You are not connected to a device."));
        QCOMPARE(shown(), QStringList({"10.1.2.3", "1.255.0.0", "10.1.2.254", "5025"}));
    }
};

QTEST_MAIN(TestNetworkSettings)
#include "tst_networksettings.moc"
