// Closing the panel while its worker waits on an instrument that has stopped
// answering: by the window, and by a stop signal to the program itself.
#include "panelharness.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace
{
// Far below the eight seconds a silent instrument holds each request, far
// above what closing needs.
const int CloseBoundMs = 2000;
} // namespace

class ShutdownTest : public QObject
{
    Q_OBJECT

private slots:
    void closingGivesUpWaitAndQueue()
    {
        PanelHarness h;
        QVERIFY(h.startSim());
        h.sim.setFault(SimServer::Fault::NoReply, 0, "*IDN?");
        MainWindow &w = h.launch();
        QTRY_VERIFY(h.sim.receivedLines().contains("*IDN?"));
        for (int i = 0; i < 3; ++i)
            emit w.query("syst:readstate?", MODE_STATUS);
        emit w.command("freq:tune 12.5000");

        QElapsedTimer clock;
        clock.start();
        h.window.reset();
        const qint64 closedInMs = clock.elapsed();
        QVERIFY2(closedInMs < CloseBoundMs, qPrintable(QString::number(closedInMs)));
        QTRY_COMPARE(h.sim.connectionCount(), 0);
        QCOMPARE(h.sim.receivedLines(), QStringList{"*IDN?"});
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
        TestWorkdir workdir;
        SimServer sim;
        QVERIFY(sim.start(0));
        TestWorkdir::writeSettings("127.0.0.1", sim.port());
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
