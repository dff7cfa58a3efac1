// The installed programs asked for --help or --version, as a packager's
// script or an operator at a terminal asks them: run as processes without
// any display, in a folder of their own.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void informationOptionsPrintAndTouchNothing_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("workingFolder");

        const QString version = QStringLiteral("rfpanel " RFPANEL_VERSION "\n");
        QTest::newRow("rfpanel --version")
            << RFPANEL_PATH << "--version" << QStringList() << version << QString();
        QTest::newRow("rfpanel -v")
            << RFPANEL_PATH << "-v" << QStringList() << version << QString();
        QTest::newRow("rfpanel --help")
            << RFPANEL_PATH << "--help" << QStringList()
            << "Usage: " + QDir::toNativeSeparators(RFPANEL_PATH) + " [options]\n"
            << QString();
        QTest::newRow("kxsim --version")
            << KXSIM_PATH << "--version" << QStringList() << "kxsim " RFPANEL_VERSION "\n"
            << QString();
#ifdef Q_OS_UNIX
        // the desktop entry's launcher: a per-user folder, created when missing
        QTest::newRow("launcher, XDG_DATA_HOME")
            << RFPANEL_LAUNCHER << "--version" << QStringList{"XDG_DATA_HOME=@/data"} << version
            << "data/rfpanel";
        QTest::newRow("launcher, HOME only")
            << RFPANEL_LAUNCHER << "--version" << QStringList{"HOME=@/home"} << version
            << "home/.local/share/rfpanel";
#endif
    }

    void informationOptionsPrintAndTouchNothing()
    {
        QFETCH(QString, program);
        QFETCH(QString, argument);
        QFETCH(QStringList, environment);
        QFETCH(QString, expected);
        QFETCH(QString, workingFolder);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        // No display of any kind: a window or an application object that
        // needs one would end the program with an error.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME"})
            env.remove(QString::fromLatin1(name));
        for (const QString &entry : environment) {
            const QString value = entry.section('=', 1).replace('@', root.path());
            env.insert(entry.section('=', 0, 0), value);
        }

        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(root.path());
        // Text: the system's line ends read as line feeds.
        process.start(program, {argument}, QIODevice::ReadOnly | QIODevice::Text);
        QVERIFY2(process.waitForFinished(10000), qPrintable(program));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        if (argument == QLatin1String("--help")) {
            QVERIFY2(out.startsWith(expected), qPrintable(out));
            QVERIFY(out.contains("--version"));
        } else {
            QCOMPARE(out, expected);
        }

        // nothing written, neither where it was started nor where it ran
        const QDir::Filters files = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QDir folder(root.path());
        if (!workingFolder.isEmpty()) {
            QVERIFY2(folder.cd(workingFolder), qPrintable(workingFolder));
            QVERIFY(folder.entryList(files).isEmpty());
        } else {
            QVERIFY2(folder.entryList(files).isEmpty(),
                     qPrintable(folder.entryList(files).join(' ')));
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
