// Closing the panel while its worker waits on an instrument that has stopped
// answering: by the window, and by a stop signal to the program itself.
#include "loopback.h"
#include "panelharness.h"
#include "workerjoin.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif
#ifdef EMULATED_USB
#include "emulatedusbbus.h"
#include <memory>
#endif

namespace
{
// What the worker is doing when the window closes.
enum class Busy { Connecting, UsbTransfer, Reply };

// The panel is gone within a second of a stop signal, however long the
// instrument would hold the request in progress.
const int CloseBoundMs = 1000;
} // namespace

Q_DECLARE_METATYPE(Busy)

class ShutdownTest : public QObject
{
    Q_OBJECT

private slots:
    void closingEndsEveryWait_data()
    {
        QTest::addColumn<Busy>("busy");
        QTest::addColumn<QStringList>("linesSent");
#ifdef Q_OS_UNIX
        QTest::newRow("connecting, no answer") << Busy::Connecting << QStringList();
#endif
#ifdef EMULATED_USB
        QTest::newRow("inside a USB transfer") << Busy::UsbTransfer << QStringList();
#endif
        QTest::newRow("waiting for a reply") << Busy::Reply << QStringList{"*IDN?"};
    }

    // Each time with requests queued behind the wait, none of which may go out.
    void closingEndsEveryWait()
    {
        QFETCH(Busy, busy);
        QFETCH(QStringList, linesSent);
        PanelHarness h;
        QVERIFY(h.startSim());
#ifdef Q_OS_UNIX
        UnansweredLoopbackPort unanswered;
        if (busy == Busy::Connecting) {
            QVERIFY(unanswered.port != 0);
            TestWorkdir::writeSettings("127.0.0.1", unanswered.port);
        }
#endif
#ifdef EMULATED_USB
        std::unique_ptr<EmulatedUsbBus> bus;
        EmulatedUsbDevice *device = nullptr;
        if (busy == Busy::UsbTransfer) {
            bus = std::make_unique<EmulatedUsbBus>();
            device = &bus->add();
            QVERIFY2(bus->problem().isEmpty(), qPrintable(bus->problem()));
            device->setReplyDelayMs(60000);
        }
#endif
        h.sim.setFault(SimServer::Fault::NoReply, 0, "*IDN?");
        MainWindow &w = h.launch();
        if (busy == Busy::Connecting) // the USB attempt, just before it, is reported
            QTRY_VERIFY(!h.log().isEmpty());
#ifdef EMULATED_USB
        if (busy == Busy::UsbTransfer) // the identification's reply is asked for
            QTRY_VERIFY(!device->inRequestLengths().isEmpty());
#endif
        if (busy == Busy::Reply)
            QTRY_VERIFY(h.sim.receivedLines().contains("*IDN?"));
        for (int i = 0; i < 3; ++i)
            emit w.query("syst:readstate?", MODE_STATUS);
        emit w.command("freq:tune 12.5000");

        QElapsedTimer clock;
        clock.start();
        h.window.reset();
        const qint64 closedInMs = clock.elapsed();
        // Beyond the join's bound the worker would be left running, not ended.
        QVERIFY2(closedInMs < WorkerJoinBoundMs, qPrintable(QString::number(closedInMs)));
        QTRY_COMPARE(h.sim.connectionCount(), 0);
        QCOMPARE(h.sim.receivedLines(), linesSent);
#ifdef EMULATED_USB
        QVERIFY(!device || !device->isInterfaceClaimed());
#endif
    }

    void stopSignalClosesAsTheWindowDoes_data()
    {
        QTest::addColumn<int>("signal");
#ifdef Q_OS_UNIX
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
#endif
    }

    void stopSignalClosesAsTheWindowDoes()
    {
#ifndef Q_OS_UNIX
        QSKIP("No stop signals on this system");
#else
        QFETCH(int, signal);
        PanelHarness h;
        QVERIFY(h.startSim());
        SimServer &sim = h.sim;
        sim.setFault(SimServer::Fault::NoReply, 0, "*IDN?");
        QProcess panel;
        panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel.start(QStringLiteral(RFPANEL), QStringList());
        QVERIFY(panel.waitForStarted(5000));
        QTRY_VERIFY(sim.receivedLines().contains("*IDN?"));

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::kill(pid_t(panel.processId()), signal), 0);
        QVERIFY(panel.waitForFinished(5000));
        const qint64 closedInMs = clock.elapsed();
        QVERIFY2(closedInMs < CloseBoundMs, qPrintable(QString::number(closedInMs)));
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0);
        QCOMPARE(sim.connectionCount(), 0);
#endif
    }
};

QTEST_MAIN(ShutdownTest)
#include "tst_shutdown.moc"
