// The program's start as a launcher sees it: the phases it writes, when
// asked for, for finding where the start spends its time.
#include "panelharness.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // Each phase once; the window's and the worker's run side by side, so
    // their order between the two is not fixed.
    void phasesAreWrittenWhenAskedFor_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QStringList>("phases");
        QTest::newRow("asked for")
            << "rfpanel.startup.debug=true"
            << QStringList{"QApplication", "TCP connected", "USB probe done", "first paint",
                           "identified",   "process start", "window built"};
        QTest::newRow("by default") << QString() << QStringList();
    }

    void phasesAreWrittenWhenAskedFor()
    {
        QFETCH(QString, rules);
        QFETCH(QStringList, phases);
        PanelHarness h;
        QVERIFY(h.startSim());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_LOGGING_RULES", rules);
#ifdef Q_OS_WIN
        // terminate() ends a Windows program by closing its windows, and an
        // offscreen panel has none: there it runs on the native platform.
        environment.remove("QT_QPA_PLATFORM");
#endif
        QProcess panel;
        panel.setProcessEnvironment(environment);
        panel.start(QStringLiteral(RFPANEL), QStringList());
        // The state list is asked for once the identification was taken.
        QTRY_VERIFY_WITH_TIMEOUT(h.sim.receivedLines().contains("syst:bootstate?"), 5000);
        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));

        QStringList written;
        const QRegularExpression phase("rfpanel.startup: phase \"([^\"]+)\"");
        for (auto it = phase.globalMatch(panel.readAllStandardError()); it.hasNext();)
            written << it.next().captured(1);
        written.sort();
        QCOMPARE(written, phases);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
