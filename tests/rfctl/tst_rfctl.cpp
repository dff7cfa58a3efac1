#include "loopback.h"
#include "simserver.h"
#include "testworkdir.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>
#include <functional>
#include <memory>

namespace
{
// Above every wait the tool may take with the timeouts used here.
const int FinishMs = 20000;

struct Outcome {
    int exitCode = -1;
    QStringList out;
    QString err;
};

void modelCommand(SimServer &sim, const QByteArray &line)
{
    sim.withModel([&](InstrumentModel &m) { m.execute(line); });
}
} // namespace

// The real rfctl program against the simulator on loopback, each case with a
// working folder of its own.
class RfctlTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimServer> sim;
    std::unique_ptr<TestWorkdir> dir;

    Outcome run(const QStringList &args, const QProcessEnvironment &env = plainEnvironment())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir->path());
        // Text: the system's line ends read as line feeds.
        p.start(QStringLiteral(RFCTL_PATH), args, QIODevice::ReadWrite | QIODevice::Text);
        Outcome o;
        if (!p.waitForFinished(FinishMs)) {
            p.kill();
            p.waitForFinished();
            o.err = QStringLiteral("(rfctl did not finish)");
            return o;
        }
        o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        o.out = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        o.err = QString::fromUtf8(p.readAllStandardError());
        return o;
    }

    Outcome overTcp(const QStringList &args, const QProcessEnvironment &env = plainEnvironment())
    {
        return run(QStringList{"--tcp", QStringLiteral("127.0.0.1:%1").arg(sim->port())} + args,
                   env);
    }

    // Where the system looks for the VISA library.
#ifdef Q_OS_WIN
    static constexpr const char *LibraryPath = "PATH";
#else
    static constexpr const char *LibraryPath = "LD_LIBRARY_PATH";
#endif

    // Without a VISA library on the path and without USB instruments, so
    // the USB attempt finds nothing.
    static QProcessEnvironment plainEnvironment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#ifndef Q_OS_WIN
        env.remove(QString::fromLatin1(LibraryPath));
#endif
        env.remove(QStringLiteral("FAKEVISA_INSTRUMENTS"));
        return env;
    }

    // The test VISA library presents the simulator as a USB instrument.
    QProcessEnvironment usbEnvironment() const
    {
        QProcessEnvironment env = plainEnvironment();
        QString path = QStringLiteral(FAKEVISA_DIR);
#ifdef Q_OS_WIN
        path += QDir::listSeparator() + env.value(QString::fromLatin1(LibraryPath));
#endif
        env.insert(QString::fromLatin1(LibraryPath), path);
        env.insert(QStringLiteral("FAKEVISA_INSTRUMENTS"),
                   QStringLiteral("127.0.0.1:%1").arg(sim->port()));
        return env;
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimServer>();
        QVERIFY(sim->start());
        dir = std::make_unique<TestWorkdir>();
    }

    void cleanup()
    {
        sim.reset();
        dir.reset();
    }

    void settingIsSentAndReadBack_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("locale");

        const auto row = [](const char *name, const QStringList &args, const QByteArray &before,
                            const QString &wire, const QString &shown,
                            const QString &locale = "C") {
            QTest::newRow(name) << args << before << wire << shown << locale;
        };
        row("tune", {"tune", "12.5"}, {}, "freq:tune 12.5000", "Tune frequency: 12.5000 GHz");
        row("tune, decimal-comma locale", {"tune", "12.5"}, {}, "freq:tune 12.5000",
            "Tune frequency: 12.5000 GHz", "de_DE.UTF-8");
        row("tune rounded by integer PLL", {"tune", "12.3456"}, "freq:pllm 1", "freq:tune 12.3456",
            "Tune frequency: 12.4000 GHz (12.3456 GHz rounded to the nearest 400 MHz by the "
            "integer PLL mode)");
        row("atten", {"atten", "17"}, {}, "fact:rfatten 17", "D/C attenuation: 17 dB");
        row("reffreq", {"reffreq", "10"}, {}, "freq:ref:freq 10", "Reference frequency: 10 MHz");
        row("lna on", {"lna", "on"}, {}, "powe:lna 0", "LNA: on");
        row("lna off", {"lna", "OFF"}, "powe:lna 0", "powe:lna 1", "LNA: off");
        row("override off", {"override", "off"}, {}, "freq:ref:refover 0",
            "Reference override: off");
        row("if 187", {"if", "187"}, {}, "fact:slot2 \"freq>set 20.887\"", "IF frequency: 187 MHz");
        row("pll integer", {"pll", "integer"}, {}, "freq:pllm 1", "LO PLL mode: integer");
    }

    void settingIsSentAndReadBack()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, before);
        QFETCH(QString, wire);
        QFETCH(QString, shown);
        QFETCH(QString, locale);
        if (!before.isEmpty())
            modelCommand(*sim, before);
        QProcessEnvironment env = plainEnvironment();
        env.insert(QStringLiteral("LC_ALL"), locale);
        env.insert(QStringLiteral("LANG"), locale);

        const Outcome o = overTcp(QStringList{"set"} + args, env);
        QCOMPARE(o.err, QString());
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out, QStringList{shown});
        QCOMPARE(sim->receivedLines(), QStringList({"*IDN?", wire, "syst:readstate?"}));
    }

    // The reference source is switched only while the override is on; the
    // tool reads the status first, as the panel's disabled buttons do.
    void referenceNeedsOverride()
    {
        Outcome o = overTcp({"set", "ref", "internal"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out, QStringList{"Reference source: internal"});
        QVERIFY(sim->receivedLines().contains("freq:ref:ext 0"));

        modelCommand(*sim, "freq:ref:refover 0");
        sim->clearReceived();
        o = overTcp({"set", "ref", "external"});
        QCOMPARE(o.exitCode, 1);
        QVERIFY2(o.err.contains("override"), qPrintable(o.err));
        QCOMPARE(sim->receivedLines(), QStringList({"*IDN?", "syst:readstate?"}));
    }

    void badInputIsRefusedWithoutTraffic_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("tune 25") << QStringList{"set", "tune", "25"};
        QTest::newRow("tune below range") << QStringList{"set", "tune", "1.99"};
        QTest::newRow("tune with decimal comma") << QStringList{"set", "tune", "12,5"};
        QTest::newRow("tune nan") << QStringList{"set", "tune", "nan"};
        QTest::newRow("atten -1") << QStringList{"set", "atten", "-1"};
        QTest::newRow("atten 32") << QStringList{"set", "atten", "32"};
        QTest::newRow("atten fraction") << QStringList{"set", "atten", "1.5"};
        QTest::newRow("reffreq 101") << QStringList{"set", "reffreq", "101"};
        QTest::newRow("unknown word") << QStringList{"set", "lna", "maybe"};
        QTest::newRow("unknown setting") << QStringList{"set", "volume", "3"};
        QTest::newRow("state 0") << QStringList{"state", "load", "0"};
        QTest::newRow("state 6") << QStringList{"state", "save", "6"};
        QTest::newRow("unknown command") << QStringList{"reboot"};
        QTest::newRow("missing value") << QStringList{"set", "tune"};
        QTest::newRow("address out of range")
            << QStringList{"network", "set", "10.0.0.256", "255.0.0.0", "10.0.0.1", "5025"};
        QTest::newRow("port 0") << QStringList{"network",   "set",      "10.0.0.2",
                                               "255.0.0.0", "10.0.0.1", "0"};
        QTest::newRow("line break in a raw command") << QStringList{"send", "powe:lna 0\n*RST"};
        // Never the wildcard address in place of one mistyped.
        QTest::newRow("serve on an address out of range")
            << QStringList{"serve", "--listen", "127.0.0.256"};
        QTest::newRow("serve on a short address") << QStringList{"serve", "--listen", "0"};
    }

    void badInputIsRefusedWithoutTraffic()
    {
        QFETCH(QStringList, args);
        const Outcome o = overTcp(args);
        QCOMPARE(o.exitCode, 2);
        QVERIFY(!o.err.isEmpty());
        QCOMPARE(o.out, QStringList());
        QCOMPARE(sim->connectionCount(), 0);
        QCOMPARE(sim->receivedLines(), QStringList());
    }

    void valueNotTakenIsReported()
    {
        // An instrument whose status stays where it was.
        QByteArray frozen;
        sim->withModel([&](InstrumentModel &m) { frozen = m.statusReply(); });
        sim->setReply("syst:readstate?", frozen);
        const Outcome o = overTcp({"set", "atten", "5"});
        QCOMPARE(o.exitCode, 1);
        QVERIFY2(o.err.contains("did not take \"fact:rfatten 5\""), qPrintable(o.err));
        QCOMPARE(o.out, QStringList());
    }

    // Instrument text reaches the terminal printable, whichever command
    // prints it: an ESC sequence in the status's filter field is shown, not obeyed.
    void instrumentTextIsPrintable()
    {
        QList<QByteArray> fields;
        sim->withModel(
            [&](InstrumentModel &m) { fields = m.execute("syst:readstate?")->split(','); });
        fields[11] += "\x1b[2J";
        sim->setReply("syst:readstate?", fields.join(','));
        const QString out = overTcp({"status"}).out.join('\n');
        QVERIFY2(out.contains(QStringLiteral("\ufffd[2J")) && !out.contains('\x1b'),
                 qPrintable(out));
    }

    void unusableStatusIsAnError_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("overheated") << QByteArray("OH NO!") << 1 << "OVERHEATED";
        QTest::newRow("empty") << QByteArray("") << 3 << "no status reply";
        QTest::newRow("cut short") << QByteArray("10.30000,10.0000,0") << 3 << "3 of 16 fields";
    }

    void unusableStatusIsAnError()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        sim->setReply("syst:readstate?", reply);
        const Outcome o = overTcp({"status", "--json"});
        QCOMPARE(o.exitCode, exitCode);
        QVERIFY2(o.err.contains(message), qPrintable(o.err));
        QCOMPARE(o.out, QStringList());
    }

    void otherInstrumentIsRefused()
    {
        InstrumentModel::Config other;
        other.idn = "Acme,SG-100,42,1.0";
        sim = std::make_unique<SimServer>(other);
        QVERIFY(sim->start());
        const Outcome o = overTcp({"set", "atten", "5"});
        QCOMPARE(o.exitCode, 1);
        QVERIFY2(o.err.contains("Acme,SG-100,42,1.0"), qPrintable(o.err));
        QCOMPARE(sim->receivedLines(), QStringList({"*IDN?"}));
        // Over USB too: it is listed, but refused, not missing.
        QCOMPARE(run({"--usb", "query", "*IDN?"}, usbEnvironment()).exitCode, 1);
    }

    void unreachableInstrumentExits3_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("closed port") << false;
        QTest::newRow("silent listener") << true;
    }

    // A listener that accepts but never reads or answers: the tool gives up
    // after --timeout, although the connection's own reply wait is longer.
    void unreachableInstrumentExits3()
    {
        QFETCH(bool, listening);
        QTcpServer silent;
        quint16 port = unusedLoopbackPort();
        if (listening) {
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            port = silent.serverPort();
        }
        QElapsedTimer clock;
        clock.start();
        const Outcome o =
            run({"--tcp", QStringLiteral("127.0.0.1:%1").arg(port), "--timeout", "1500", "status"});
        QCOMPARE(o.exitCode, 3);
        QVERIFY(!o.err.isEmpty());
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    }

    void usbFailureExits3_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("unpluggedAt");
        QTest::newRow("send, unplugged")
            << "send" << int(SimServer::Fault::None) << QByteArray("enet");
        QTest::newRow("query, silent") << "query" << int(SimServer::Fault::NoReply) << QByteArray();
        QTest::newRow("query, empty reply")
            << "query" << int(SimServer::Fault::EmptyReply) << QByteArray();
    }

    void usbFailureExits3()
    {
        QFETCH(QString, command);
        QFETCH(int, fault);
        QFETCH(QByteArray, unpluggedAt);
        sim->setFault(SimServer::Fault(fault), 0, "enet");
        QProcessEnvironment env = usbEnvironment();
        env.insert("FAKEVISA_UNPLUGGED_AT", unpluggedAt);
        env.insert("FAKEVISA_READ_TIMEOUT_MS", "500");
        const Outcome o = run({"--usb", command, "enet:ip?"}, env);
        QCOMPARE(o.exitCode, 3);
        QVERIFY(!o.err.isEmpty());
        QCOMPARE(o.out, QStringList());
    }

    // The driver does not return from closing the instrument: the tool
    // still ends with the command's outcome, once its wait for the close
    // and for the worker ran out, not when the driver returns.
    void closeStuckInTheDriverDoesNotHoldTheExit()
    {
        QProcessEnvironment env = usbEnvironment();
        env.insert("FAKEVISA_CLOSE_WAIT_AFTER", "syst:sernum?");
        env.insert("FAKEVISA_CLOSE_WAIT_MS", "10000");
        QElapsedTimer clock;
        clock.start();
        const Outcome o = run({"--usb", "--timeout", "2000", "query", "syst:sernum?"}, env);
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out, QStringList{"123"});
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    }

    void statusJsonParses()
    {
        modelCommand(*sim, "powe:lna 0");
        const Outcome o = overTcp({"status", "--json"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out.size(), 1);
        QJsonParseError error;
        const QJsonObject status = QJsonDocument::fromJson(o.out.first().toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(status["tuneFrequency"].toObject()["value"].toDouble(), 10.0);
        QCOMPARE(status["tuneFrequency"].toObject()["unit"].toString(), QString("GHz"));
        QCOMPARE(status["temperature"].toObject()["value"].toDouble(), 35.2);
        QCOMPARE(status["ifFrequency"].toObject()["value"].toDouble(), 300.0);
        QCOMPARE(status["lnaOn"].toBool(), true);
        QCOMPARE(status["referenceSource"].toString(), QString("external"));
        QCOMPARE(status["pllMode"].toString(), QString("fractional"));
    }

    void monitorPrintsOneLinePerPoll()
    {
        Outcome o = overTcp({"monitor", "--count", "3", "--interval", "0.2"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out.size(), 3);
        QVERIFY2(o.out.first().contains("35.2 °C  1.25 A  LO1 LOCKED"), qPrintable(o.out.first()));

        o = overTcp({"monitor", "--count", "2", "--interval", "0.2", "--csv"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out.size(), 2);
        const QStringList cells = o.out.last().split(',');
        QCOMPARE(cells.mid(1), QStringList({"35.2", "1.25", "1", "1", "1", "10.0000"}));
        QVERIFY(QDateTime::fromString(cells.first(), Qt::ISODateWithMs).isValid());
    }

    void statesAreSavedListedAndLoaded()
    {
        modelCommand(*sim, "fact:rfatten 7");
        modelCommand(*sim, "freq:tune 14.25");
        Outcome o = overTcp({"state", "save", "5"});
        QCOMPARE(o.exitCode, 0);
        QVERIFY(sim->receivedLines().contains("syst:savestate 4"));

        o = overTcp({"states"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out.size(), 6);
        QCOMPARE(o.out.last().simplified(), QString("5 14.2500 7 OFF 300"));

        modelCommand(*sim, "fact:rfatten 0");
        sim->clearReceived();
        o = overTcp({"state", "load", "5"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(sim->receivedLines().mid(2, 2), QStringList({"freq:pllm 0", "syst:loadstate 4"}));
        sim->withModel([](InstrumentModel &m) { QCOMPARE(m.atten(), 7); });
    }

    void networkSettingsAreReadAndWrittenOverUsbOnly()
    {
        Outcome o = overTcp({"network"});
        QCOMPARE(o.exitCode, 0);
        QVERIFY2(o.out.contains("IP address   127.0.0.1"), qPrintable(o.out.join('|')));

        sim->clearReceived();
        const QStringList write = {"network", "set", "10.1.2.3", "255.255.0.0", "10.1.0.1", "5025"};
        o = overTcp(write);
        QCOMPARE(o.exitCode, 2);
        QCOMPARE(sim->receivedLines(), QStringList());

        o = run(QStringList{"--usb"} + write, usbEnvironment());
        QCOMPARE(o.err, QString());
        QCOMPARE(o.exitCode, 0);
        const QStringList lines = sim->receivedLines();
        const int first = lines.indexOf("enet:ip \"10.1.2.3\"");
        QVERIFY(first > 0);
        QCOMPARE(lines.mid(first, 5),
                 QStringList({"enet:ip \"10.1.2.3\"", "enet:gateway \"10.1.0.1\"",
                              "enet:submask \"255.255.0.0\"", "enet:port 5025", "enet:prot 1"}));
        sim->withModel([](InstrumentModel &m) { QCOMPARE(m.ipAddress(), QString("10.1.2.3")); });
        QCOMPARE(TestWorkdir::settings(), QByteArray("10.1.2.3\n255.255.0.0\n10.1.0.1\n5025\n"));
    }

    void identifyListsModulesOverUsb()
    {
        const Outcome o = run({"--usb", "identify"}, usbEnvironment());
        QCOMPARE(o.err, QString());
        QCOMPARE(o.exitCode, 0);
        QVERIFY(o.out.contains("Model         KX4417-UDC"));
        QVERIFY(o.out.contains("Serial        SN000123"));
        QVERIFY(o.out.contains("Firmware      2.4.1"));
        // Four port modules, the LCD's two parts and the FPGA.
        QCOMPARE(o.out.filter(QRegularExpression("^(Port [0-3]|LCD|Altera)")).size(), 7);
    }

    // Two instruments on the VISA library: the one not chosen is never asked
    // anything. The listing shows no control character an instrument sent.
    void secondUsbInstrumentIsPickedBySerial()
    {
        InstrumentModel::Config second;
        second.idn = "Ostrelin,KX4417-UDC,SN000777,2.4.1\x1b[2J";
        SimServer other(second);
        QVERIFY(other.start());
        QProcessEnvironment env = usbEnvironment();
        env.insert("FAKEVISA_INSTRUMENTS",
                   QStringLiteral("127.0.0.1:%1;USB0::0x2012::0x4417::SN000777::INSTR@127.0.0.1:%2")
                       .arg(sim->port())
                       .arg(other.port()));
        QCOMPARE(run({"--serial", "sn000777", "set", "atten", "5"}, env).exitCode, 0);
        QVERIFY(other.receivedLines().contains("fact:rfatten 5"));
        QCOMPARE(sim->receivedLines(), QStringList());
        const Outcome listed = run({"list"}, env);
        QCOMPARE(listed.exitCode, 0);
        QCOMPARE(listed.out.size(), 2);
        QVERIFY2(listed.out.at(1).contains(QRegularExpression("::SN000777::INSTR +KX4417-UDC +"
                                                              "SN000777 +2.4.1[^\\x1b]*$")),
                 qPrintable(listed.out.at(1)));

        QProcess serve;
        serve.setProcessEnvironment(env);
        serve.start(QStringLiteral(RFCTL_PATH),
                    {"--serial", "SN000777", "serve", "--raw-port", "0"});
        serve.setReadChannel(QProcess::StandardError);
        QByteArray log;
        while (!log.contains("link up") && serve.waitForReadyRead(5000))
            log += serve.readAllStandardError();
        serve.kill();
        serve.waitForFinished();
        QVERIFY2(log.contains("link up: Ostrelin,KX4417-UDC,SN000777"), log.constData());

        // A resource name may claim the serial number; the identification decides.
        env.insert(
            "FAKEVISA_INSTRUMENTS",
            QStringLiteral("USB0::0x2012::0x4417::SN000777::INSTR@127.0.0.1:%1").arg(sim->port()));
        sim->clearReceived();
        QCOMPARE(run({"--serial", "SN000777", "query", "*IDN?"}, env).exitCode, 1);
        QCOMPARE(sim->receivedLines(), QStringList{"*IDN?"});
    }

    // The identification the link was opened with; the instrument is not asked again.
    void identifyOverTcp()
    {
        const Outcome o = overTcp({"identify"});
        QCOMPARE(o.exitCode, 0);
        QVERIFY(o.out.join('\n').contains("SN000123"));
        QCOMPARE(sim->receivedLines(), QStringList({"*IDN?"}));
    }

    // No link option: USB first, then the settings file in the working folder.
    void withoutLinkOptionTheSettingsFileIsUsed()
    {
        Outcome o = run({"query", "*IDN?"});
        QCOMPARE(o.exitCode, 3);

        QVERIFY(TestWorkdir::writeSettings("127.0.0.1", sim->port()));
        o = run({"query", "*IDN?"});
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.out, QStringList{"Ostrelin,KX4417-UDC,SN000123,2.4.1"});
    }
};

QTEST_GUILESS_MAIN(RfctlTest)
#include "tst_rfctl.moc"
