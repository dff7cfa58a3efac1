#include "networksettingsfile.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <memory>
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(NetworkSettingsFile::Settings)

namespace
{
// A read or written setting as "ip|subnet|gateway|port".
QString joined(const NetworkSettingsFile::Settings &settings)
{
    return QStringList{settings.ipAddress, settings.subnet, settings.gateway,
                       QString::number(settings.port)}
        .join('|');
}
} // namespace

class NetworkSettingsFileTest : public QObject
{
    Q_OBJECT
    // A tmpfs the current case mounted, inside a folder that outlives the case.
    QByteArray mounted;
    std::unique_ptr<TestWorkdir> diskWorkdir;

private slots:
    void readsLayouts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("settings");
        const QString all = "10.0.0.5|255.255.0.0|10.0.0.1|5025";
        const QString noPort = "10.0.0.5|255.255.0.0|10.0.0.1|0";
        QTest::newRow("plain") << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n5025\n") << all;
        QTest::newRow("crlf and blanks")
            << QByteArray(" 10.0.0.5 \r\n\t255.255.0.0\r\n10.0.0.1  \r\n 5025 \r\n") << all;
        QTest::newRow("no final line feed")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n5025") << all;
        QTest::newRow("only one line") << QByteArray("10.0.0.5\n") << "10.0.0.5|||0";
        QTest::newRow("port not a number")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\nfifty\n") << noPort;
        // Taken as it stands, these would wrap to a different, valid port.
        QTest::newRow("port above range")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n70561\n") << noPort;
        QTest::newRow("negative port")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n-1\n") << noPort;
        QTest::newRow("port past 32 bits")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n4294972321\n") << noPort;
        QTest::newRow("port past 64 bits")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n18446744073709556641\n") << noPort;
        QTest::newRow("blank inside port")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n50 25\n") << noPort;
        QTest::newRow("utf-8 text")
            << QByteArray("h\xc3\xb6st\n\n\n65535\n") << "h\u00f6st|||65535";
        // A value cut short would be another setting: such a line reads as empty.
        QTest::newRow("NUL in port")
            << QByteArray("10.0.0.5\n255.255.0.0\n10.0.0.1\n43761") + '\0' + " 9\n"
            << noPort;
        QTest::newRow("NUL in address")
            << QByteArray("10.0.0.5") + '\0' + ".7\n255.255.0.0\n10.0.0.1\n5025\n"
            << "|255.255.0.0|10.0.0.1|5025";
        QTest::newRow("byte order mark")
            << QByteArray("\xef\xbb\xbf 10.0.0.5\n255.255.0.0\n10.0.0.1\n5025\n") << all;
        // Decoded and saved, this would come back as other bytes.
        QTest::newRow("not utf-8")
            << QByteArray("10.0.0.5\n255.255.0.0\nh\xf6st\n5025\n") << "10.0.0.5|255.255.0.0||5025";
        QTest::newRow("overlong line") << "10.0.0.5\n" + QByteArray(300, '7') + "\n10.0.0.1\n5025\n"
                                       << "10.0.0.5||10.0.0.1|5025";
        // Blank padding takes line 2 past the read limit in the middle of its value.
        QTest::newRow("value across the read limit")
            << "10.0.0.5\n" + QByteArray(4084, ' ') + "255.255.0.0\n10.0.0.1\n5025\n"
            << "10.0.0.5|||0";
    }

    void readsLayouts()
    {
        QFETCH(QByteArray, content);
        TestWorkdir workdir;
        QVERIFY(TestWorkdir::writeSettings(content));
        const auto settings = NetworkSettingsFile().read();
        QVERIFY(settings);
        QTEST(joined(*settings), "settings");
    }

    void missingFileReadsNothing()
    {
        TestWorkdir workdir;
        NetworkSettingsFile file;
        QVERIFY(!file.exists());
        QVERIFY(!file.read());
    }

    void writeReplacesWholeFileWithFourLines()
    {
        TestWorkdir workdir;
        QVERIFY(TestWorkdir::writeSettings(
            "a much longer previous content that must not survive\n\n\n\n\n\n"));
        NetworkSettingsFile file;
        QVERIFY(file.write({"192.168.10.20", "255.255.255.0", "192.168.10.1", 2000}));
        QCOMPARE(TestWorkdir::rawSettings(),
                 TestWorkdir::nativeLines("192.168.10.20\n255.255.255.0\n192.168.10.1\n2000\n"));

        const auto back = file.read();
        QVERIFY(back);
        QCOMPARE(joined(*back), QString("192.168.10.20|255.255.255.0|192.168.10.1|2000"));
    }

    void defaultsAreWrittenExactly()
    {
        TestWorkdir workdir;
        QVERIFY(NetworkSettingsFile().write(NetworkSettingsFile::defaults()));
        QCOMPARE(
            TestWorkdir::rawSettings(),
            TestWorkdir::nativeLines("255.255.255.255\n255.255.255.255\n255.255.255.255\n65535\n"));
    }

    void writeIntoMissingFolderFails()
    {
        TestWorkdir workdir;
        QVERIFY(!NetworkSettingsFile("no-such-folder/ipdata.vnf")
                     .write(NetworkSettingsFile::defaults()));
    }

    // Files beside the settings file are the operator's own, whatever their
    // names: a save replaces the file and touches nothing else.
    void writeLeavesOtherFilesAlone()
    {
        TestWorkdir workdir;
        QStringList others = {"ipdata.vnf.backup", "ipdata.vnf.before", "ipdata.vnf.AbCdEf",
                              "ipdata.vnf.bak"};
#ifndef Q_OS_WIN
        others << "IPDATA.VNF.AbCdEf"; // another file only where names keep their case
#endif
        for (const QString &name : others) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        QVERIFY(NetworkSettingsFile().write(NetworkSettingsFile::defaults()));
        QStringList expected = others + QStringList{"ipdata.vnf"};
        expected.sort();
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    }

#ifdef Q_OS_LINUX
    // A small file system of its own, filled up: the save fails, says so and
    // keeps the previous file byte for byte. Mounting needs root.
    void fullDiskKeepsPreviousFile()
    {
        if (geteuid() != 0)
            QSKIP("mounting a small tmpfs to fill up needs root; run as root to test a full disk");
        diskWorkdir = std::make_unique<TestWorkdir>();
        QVERIFY(QDir().mkdir("small"));
        const QByteArray target = QDir("small").absolutePath().toLocal8Bit();
        if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable(QString("cannot mount a tmpfs: %1").arg(std::strerror(errno))));
        mounted = target;

        const QString path = "small/ipdata.vnf";
        const QByteArray previous = "10.0.0.5\n255.255.0.0\n10.0.0.1\n5025\n";
        QVERIFY(NetworkSettingsFile(path).write({"10.0.0.5", "255.255.0.0", "10.0.0.1", 5025}));
        QFile filler("small/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
        filler.close();

        QVERIFY(!NetworkSettingsFile(path).write(
            {"192.168.10.20", "255.255.255.0", "192.168.10.1", 2000}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), previous);
        QCOMPARE(QDir("small").entryList(QDir::Files | QDir::Hidden),
                 QStringList({"filler", "ipdata.vnf"}));
    }

    // The file is a mount point, so the save's final rename over it fails:
    // the save says so and the file keeps its content. Mounting needs root.
    void failedReplaceKeepsPreviousFile()
    {
        if (geteuid() != 0)
            QSKIP("bind-mounting over the file needs root; run as root to test a failed replace");
        diskWorkdir = std::make_unique<TestWorkdir>();
        const QByteArray previous = "10.0.0.5\n255.255.0.0\n10.0.0.1\n5025\n";
        QVERIFY(TestWorkdir::writeSettings(previous));
        const QByteArray target =
            QFileInfo(NetworkSettingsFile::DefaultFileName).absoluteFilePath().toLocal8Bit();
        if (::mount(target.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
            QSKIP(qPrintable(QString("cannot bind-mount: %1").arg(std::strerror(errno))));
        mounted = target;
        QVERIFY(!NetworkSettingsFile().write({"10.0.0.6", "255.255.0.0", "10.0.0.1", 5025}));
        QCOMPARE(TestWorkdir::settings(), previous);
    }

#endif

    void cleanup()
    {
#ifdef Q_OS_LINUX
        if (!mounted.isEmpty())
            QCOMPARE(::umount2(mounted.constData(), MNT_DETACH), 0);
        mounted.clear();
#endif
        diskWorkdir.reset();
    }

    void valueWithLineFeedKeepsPreviousFile_data()
    {
        QTest::addColumn<NetworkSettingsFile::Settings>("settings");
        QTest::newRow("address") << NetworkSettingsFile::Settings{"10.0.0.6\n7", "255.255.0.0",
                                                                  "10.0.0.1", 5025};
        QTest::newRow("subnet mask")
            << NetworkSettingsFile::Settings{"10.0.0.6", "255.255.0.0\n", "10.0.0.1", 5025};
        QTest::newRow("gateway") << NetworkSettingsFile::Settings{"10.0.0.6", "255.255.0.0",
                                                                  "10.0.0.1\r\n", 5025};
    }

    void valueWithLineFeedKeepsPreviousFile()
    {
        QFETCH(NetworkSettingsFile::Settings, settings);
        TestWorkdir workdir;
        const QByteArray previous = "10.0.0.5\n255.255.0.0\n10.0.0.1\n5025\n";
        QVERIFY(TestWorkdir::writeSettings(previous));
        QVERIFY(!NetworkSettingsFile().write(settings));
        QCOMPARE(TestWorkdir::settings(), previous);
    }
};

QTEST_GUILESS_MAIN(NetworkSettingsFileTest)
#include "tst_networksettingsfile.moc"
