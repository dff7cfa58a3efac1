#include "instrumentmodel.h"

#include <QtTest>

namespace
{

QList<QByteArray> statusFields(InstrumentModel &m)
{
    const auto reply = m.execute("syst:readstate?");
    return reply ? reply->split(',') : QList<QByteArray>();
}

QByteArray field(InstrumentModel &m, int index)
{
    const QList<QByteArray> fields = statusFields(m);
    return index < fields.size() ? fields.at(index) : QByteArray("<missing>");
}

} // namespace

class InstrumentModelTest : public QObject
{
    Q_OBJECT
private slots:
    void identification();
    void statusReplyDefaults();
    void tuning_data();
    void tuning();
    void filterBands_data();
    void filterBands();
    void commandsSetStatusFields_data();
    void commandsSetStatusFields();
    void storedStates();
    void networkSettings();
    void moduleInventory();
    void factoryCommands();
    void keywordsIgnoreCase();
    void malformedArgumentsChangeNothing_data();
    void malformedArgumentsChangeNothing();
    void faultCommands_data();
    void faultCommands();
};

void InstrumentModelTest::identification()
{
    InstrumentModel m;
    const QList<QByteArray> idn = m.execute("*IDN?").value_or("").split(',');
    QCOMPARE(idn.size(), 4);
    QCOMPARE(idn.at(0), QByteArray("Ostrelin"));
    QVERIFY(idn.at(1).startsWith("KX4417"));

    m.config().idn = "Other,Thing,1,2";
    QCOMPARE(m.execute("*IDN?").value_or(""), QByteArray("Other,Thing,1,2"));
    QVERIFY(!m.execute("no:such:query?").has_value());
    QVERIFY(!m.execute("").has_value());
}

void InstrumentModelTest::statusReplyDefaults()
{
    InstrumentModel m;
    QCOMPARE(m.statusReply(), QByteArray("10.30000,10.0000,0,1,1,1,1,0,1,1,100,1,0,35.2,1.25,1"));
    QCOMPARE(m.execute("syst:readstate?").value_or(""), m.statusReply());
}

void InstrumentModelTest::tuning_data()
{
    QTest::addColumn<int>("pllMode");
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QByteArray>("expected"); // field 1 afterwards; 10.0000 = ignored

    QTest::newRow("integer rounds up") << 1 << QByteArray("12.3456") << QByteArray("12.4000");
    QTest::newRow("integer nearest") << 1 << QByteArray("12.3") << QByteArray("12.4000");
    QTest::newRow("integer rounds down") << 1 << QByteArray("12.19") << QByteArray("12.0000");
    QTest::newRow("integer low edge") << 1 << QByteArray("2.1") << QByteArray("2.0000");
    QTest::newRow("integer high edge") << 1 << QByteArray("17.9") << QByteArray("18.0000");
    QTest::newRow("integer rounds into band from below")
        << 1 << QByteArray("1.85") << QByteArray("10.0000");
    QTest::newRow("integer rounds into band from above")
        << 1 << QByteArray("18.1") << QByteArray("10.0000");
    QTest::newRow("integer beyond top") << 1 << QByteArray("18.21") << QByteArray("10.0000");
    QTest::newRow("fractional MHz") << 0 << QByteArray("12.3456") << QByteArray("12.3460");
    QTest::newRow("fractional bottom") << 0 << QByteArray("2") << QByteArray("2.0000");
    QTest::newRow("fractional top") << 0 << QByteArray("18.0000") << QByteArray("18.0000");
    QTest::newRow("fractional rounds into band from below")
        << 0 << QByteArray("1.9996") << QByteArray("10.0000");
    QTest::newRow("fractional rounds into band from above")
        << 0 << QByteArray("18.0004") << QByteArray("10.0000");
    QTest::newRow("below band") << 0 << QByteArray("1.9") << QByteArray("10.0000");
    QTest::newRow("above band") << 0 << QByteArray("18.001") << QByteArray("10.0000");
    QTest::newRow("negative") << 0 << QByteArray("-12") << QByteArray("10.0000");
}

void InstrumentModelTest::tuning()
{
    QFETCH(int, pllMode);
    QFETCH(QByteArray, argument);
    QFETCH(QByteArray, expected);

    InstrumentModel m;
    m.execute("freq:pllm " + QByteArray::number(pllMode));
    m.execute("freq:tune " + argument);
    QCOMPARE(field(m, 1), expected);
}

void InstrumentModelTest::filterBands_data()
{
    QTest::addColumn<QByteArray>("tune");
    QTest::addColumn<QByteArray>("filter");
    QTest::newRow("2.000") << QByteArray("2.000") << QByteArray("0");
    QTest::newRow("5.500") << QByteArray("5.500") << QByteArray("0");
    QTest::newRow("5.501") << QByteArray("5.501") << QByteArray("1");
    QTest::newRow("10.000") << QByteArray("10.000") << QByteArray("1");
    QTest::newRow("10.001") << QByteArray("10.001") << QByteArray("2");
    QTest::newRow("14.000") << QByteArray("14.000") << QByteArray("2");
    QTest::newRow("14.001") << QByteArray("14.001") << QByteArray("3");
    QTest::newRow("18.000") << QByteArray("18.000") << QByteArray("3");
}

void InstrumentModelTest::filterBands()
{
    QFETCH(QByteArray, tune);
    QFETCH(QByteArray, filter);
    InstrumentModel m;
    m.execute("freq:tune " + tune);
    QCOMPARE(field(m, 11), filter);
}

void InstrumentModelTest::commandsSetStatusFields_data()
{
    QTest::addColumn<QByteArrayList>("commands"); // on a fresh instrument
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char *name, const char *commands, int index, const char *expected) {
        QTest::newRow(name) << QByteArray(commands).split(';') << index << QByteArray(expected);
    };
    row("fractional tune", "freq:tune 12.345", 1, "12.3450");
    row("integer PLL selected", "freq:tune 12.345;freq:pllm 1", 12, "1");
    row("integer PLL resnaps tune", "freq:tune 12.345;freq:pllm 1", 1, "12.4000");
    row("integer PLL resnaps LO1", "freq:tune 12.345;freq:pllm 1", 0, "12.70000");
    row("fractional PLL selected", "freq:tune 12.345;freq:pllm 1;freq:pllm 0", 12, "0");
    row("fractional PLL keeps tune", "freq:tune 12.345;freq:pllm 1;freq:pllm 0", 1, "12.4000");
    row("integer PLL resnaps to top", "freq:tune 17.9;freq:pllm 1", 1, "18.0000");
    row("PLL mode 2 ignored", "freq:pllm 1;freq:pllm 2", 12, "1");
    row("LNA on", "powe:lna 0", 3, "0");
    row("LNA off by 1", "powe:lna 0;powe:lna 1", 3, "1");
    row("LNA 2 ignored", "powe:lna 0;powe:lna 2", 3, "0");
    row("attenuation 31", "fact:rfatten 31", 2, "31");
    row("attenuation out of range ignored", "fact:rfatten 31;fact:rfatten 32;fact:rfatten -1", 2,
        "31");
    row("attenuation 0", "fact:rfatten 31;fact:rfatten 0", 2, "0");
    row("external reference at start", "", 8, "1");
    row("override on at start", "", 9, "1");
    row("internal reference", "freq:ref:ext 0", 8, "0");
    row("external reference", "freq:ref:ext 0;freq:ref:ext 1", 8, "1");
    row("override off", "freq:ref:refover 0", 9, "0");
    row("override off goes internal", "freq:ref:refover 0", 8, "0");
    row("no switch without override", "freq:ref:refover 0;freq:ref:ext 1", 8, "0");
    row("override on stays internal", "freq:ref:refover 0;freq:ref:ext 1;freq:ref:refover 1", 8,
        "0");
    row("switch with override again", "freq:ref:refover 0;freq:ref:refover 1;freq:ref:ext 1", 8,
        "1");
    row("reference frequency", "freq:ref:freq 10", 10, "10");
    row("reference frequency out of range ignored",
        "freq:ref:freq 10;freq:ref:freq 9;freq:ref:freq 101;freq:ref:freq 50.5;freq:ref:freq x", 10,
        "10");
    row("reference frequency 100", "freq:ref:freq 10;freq:ref:freq 100", 10, "100");
    row("IF 187", "fact:slot2 \"freq>set 20.887\"", 15, "0");
    row("IF 187 LO1", "fact:slot2 \"freq>set 20.887\"", 0, "10.18700");
    row("IF near misses ignored",
        "fact:slot2 \"freq>set 20.887\";fact:slot2 freq>set 21.000;"
        "fact:slot2 \"freq>set 21.0\";fact:slot2 \"freq>set 21.000;fact:slot2",
        15, "0");
    row("IF 300", "fact:slot2 \"freq>set 20.887\";fact:slot2 \"freq>set 21.000\"", 15, "1");
    row("IF 300 LO1", "fact:slot2 \"freq>set 20.887\";fact:slot2 \"freq>set 21.000\"", 0,
        "10.30000");
}

void InstrumentModelTest::commandsSetStatusFields()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(int, index);
    InstrumentModel m;
    for (const QByteArray &command : commands)
        m.execute(command);
    QTEST(field(m, index), "expected");
}

void InstrumentModelTest::storedStates()
{
    InstrumentModel m;
    const QByteArray fresh = "10.0000,0,1,1";
    QCOMPARE(m.execute("syst:bootstate?").value_or(""),
             QByteArray(fresh + ';' + fresh + ';' + fresh + ';' + fresh + ';' + fresh));

    m.execute("freq:tune 12.5");
    m.execute("fact:rfatten 7");
    m.execute("powe:lna 0");
    m.execute("fact:slot2 \"freq>set 20.887\"");
    m.execute("syst:savestate 3");
    m.execute("syst:savestate 5");
    m.execute("syst:savestate -1");
    QCOMPARE(m.execute("syst:bootstate?").value_or(""),
             QByteArray(fresh + ';' + fresh + ';' + fresh + ";12.5000,7,0,0;" + fresh));

    m.execute("syst:loadstate 0");
    QCOMPARE(field(m, 1), QByteArray("10.0000"));
    QCOMPARE(field(m, 2), QByteArray("0"));
    QCOMPARE(field(m, 3), QByteArray("1"));
    QCOMPARE(field(m, 15), QByteArray("1"));

    m.execute("syst:loadstate 3");
    QCOMPARE(field(m, 1), QByteArray("12.5000"));
    QCOMPARE(field(m, 2), QByteArray("7"));
    QCOMPARE(field(m, 3), QByteArray("0"));
    QCOMPARE(field(m, 15), QByteArray("0"));

    m.execute("syst:loadstate 9");
    QCOMPARE(field(m, 1), QByteArray("12.5000"));
    QCOMPARE(m.storedStates().size(), 5);

    // Loading keeps the current PLL mode, as the panel expects after it
    // selected the fractional mode; in integer mode the tune snaps to its grid.
    m.execute("freq:pllm 1");
    m.execute("syst:savestate 1");
    m.execute("freq:pllm 0");
    m.execute("syst:loadstate 1");
    QCOMPARE(field(m, 12), QByteArray("0"));
    QCOMPARE(field(m, 1), QByteArray("12.4000"));
    m.execute("freq:pllm 1");
    m.execute("syst:loadstate 3");
    QCOMPARE(field(m, 12), QByteArray("1"));
    QCOMPARE(field(m, 1), QByteArray("12.4000"));
}

void InstrumentModelTest::networkSettings()
{
    InstrumentModel m;
    m.setPort(5025);
    QCOMPARE(m.execute("enet:ip?").value_or(""), QByteArray("127.0.0.1"));
    QCOMPARE(m.execute("enet:gateway?").value_or(""), QByteArray("127.0.0.1"));
    QCOMPARE(m.execute("enet:submask?").value_or(""), QByteArray("255.0.0.0"));
    QCOMPARE(m.execute("enet:port?").value_or(""), QByteArray("5025"));

    m.execute("enet:ip \"127.0.0.2\"");
    m.execute("enet:gateway \"127.0.0.9\"");
    m.execute("enet:submask \"255.255.0.0\"");
    m.execute("enet:port 6000");
    m.execute("enet:prot 1");
    QCOMPARE(m.ipAddress(), QString("127.0.0.2"));
    QCOMPARE(m.gateway(), QString("127.0.0.9"));
    QCOMPARE(m.subnet(), QString("255.255.0.0"));
    QCOMPARE(m.execute("enet:port?").value_or(""), QByteArray("6000"));

    for (const QByteArray bad : {"enet:ip 127.0.0.3", "enet:ip \"127.0.0.256\"",
                                 "enet:ip \"127.0.0\"", "enet:ip \"\"", "enet:ip \"127.0.0.1.5\"",
                                 "enet:ip \"", "enet:port 0", "enet:port 65536", "enet:port abc"})
        m.execute(bad);
    QCOMPARE(m.ipAddress(), QString("127.0.0.2"));
    QCOMPARE(m.port(), 6000);
}

void InstrumentModelTest::moduleInventory()
{
    InstrumentModel::Config config;
    config.moduleMask = 5;
    config.modules[2].idn = "Ostrelin,KX4417-PM,PM0042,1.1.0";
    config.modules[2].firmwareId = "0207";
    config.lcdFitted = 0;
    config.alteraId = "0";
    InstrumentModel m(config);

    QCOMPARE(m.execute("SYST:FIRMID?").value_or(""), QByteArray("0042"));
    QCOMPARE(m.execute("SYST:MODU?").value_or(""), QByteArray("5"));
    QCOMPARE(m.execute("LCD:LCD?").value_or(""), QByteArray("0"));
    QCOMPARE(m.execute("LCD:SERNUM?").value_or(""), QByteArray("LCD0007"));
    QCOMPARE(m.execute("LCD:VERS?").value_or(""), QByteArray("1.3"));
    QCOMPARE(m.execute("SYST:ALTERA?").value_or(""), QByteArray("0"));

    QVERIFY(!m.execute("SYST:SENDSTR:2 \"*IDN?\"").has_value());
    QCOMPARE(m.execute("SYST:READSTR:2?").value_or("<none>"),
             QByteArray("Ostrelin,KX4417-PM,PM0042,1.1.0"));
    QCOMPARE(m.execute("SYST:FIRMID:2?").value_or(""), QByteArray("0207"));
    QCOMPARE(m.execute("SYST:READSTR:2?").value_or("<none>"), QByteArray(""));

    // Port 1 is not populated: the instrument stays silent.
    m.execute("SYST:SENDSTR:1 \"*IDN?\"");
    QVERIFY(!m.execute("SYST:READSTR:1?").has_value());
    QVERIFY(!m.execute("SYST:FIRMID:1?").has_value());
    QVERIFY(!m.execute("SYST:READSTR:7?").has_value());

    // A mask claiming more ports than modules configured must not index past the list.
    m.config().moduleMask = 15;
    m.config().modules = {InstrumentModel::Module{}};
    m.execute("SYST:SENDSTR:3 \"*IDN?\"");
    QVERIFY(!m.execute("SYST:READSTR:3?").has_value());
    m.execute("SYST:SENDSTR:0 \"*IDN?\"");
    QCOMPARE(m.execute("SYST:READSTR:0?").value_or(""),
             QByteArray("Ostrelin,KX4417-PM,PM0001,1.0.0"));
}

void InstrumentModelTest::factoryCommands()
{
    InstrumentModel m;
    m.execute("SYST:TIME 12.5");
    QCOMPARE(m.execute("SYST:TIME?").value_or(""), QByteArray("12.5"));
    m.execute("SYST:TIME soon");
    m.execute("SYST:TIME 1e999");
    QCOMPARE(m.execute("SYST:TIME?").value_or(""), QByteArray("12.5"));
    m.execute("FACT:FACTMODE 48173");

    m.execute("FACT:ONEGATEVOLTAGE 2,2,-0.5");
    m.execute("FACT:ONEGATEVOLTAGE 5,1,-1.25");
    m.execute("FACT:ONEGATEVOLTAGE 5,2,-2"); // no such gate
    m.execute("FACT:BIASGATE 1,0");
    const QList<QByteArray> gates = m.execute("SYST:GATEVOLT?").value_or("").split(',');
    QCOMPARE(gates.size(), 22);
    QCOMPARE(gates.at(7), QByteArray("-0.500"));
    QCOMPARE(gates.at(21), QByteArray("-1.250"));
    QCOMPARE(gates.at(0), QByteArray("-0.750"));

    QVERIFY(m.execute("FACT:STORGATE?").value_or("") != m.execute("SYST:GATEVOLT?").value_or(""));
    m.execute("FACT:SAVEGATE");
    QCOMPARE(m.execute("FACT:STORGATE?").value_or(""), m.execute("SYST:GATEVOLT?").value_or(""));

    m.execute("SYST:ATTN 3,12");
    m.execute("SYST:ATTN 6,1");
    m.execute("SYST:ATTN 1,99");
    QCOMPARE(m.execute("SYST:ATTN?").value_or(""), QByteArray("0,0,12,0,0"));

    QCOMPARE(m.execute("SYST:FIRM?").value_or(""), QByteArray("V2.10.3"));
    QVERIFY(m.execute("SYST:CURR?").value_or("") != "0,0,0,0,0");
    m.execute("SYST:POWE 0");
    QCOMPARE(m.execute("SYST:CURR?").value_or(""), QByteArray("0,0,0,0,0"));
    QCOMPARE(m.execute("SYST:MODULESTATUS?").value_or(""), QByteArray("0,0,0,0"));
    m.execute("SYST:POWE 1");
    QCOMPARE(m.execute("SYST:MODULESTATUS?").value_or(""), QByteArray("1,1,1,1"));
}

void InstrumentModelTest::keywordsIgnoreCase()
{
    InstrumentModel m;
    m.execute("FREQ:TUNE 12.5");
    m.execute("Fact:RfAtten 5");
    QCOMPARE(m.execute("SYST:READSTATE?").value_or(""), m.statusReply());
    QCOMPARE(m.tuneGHz(), 12.5);
    QCOMPARE(m.atten(), 5);
    QCOMPARE(m.execute("syst:firmid?").value_or(""), QByteArray("0042"));
    QCOMPARE(m.execute("*idn?").value_or(""), m.config().idn.toUtf8());
}

void InstrumentModelTest::malformedArgumentsChangeNothing_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("blank") << QByteArray(" ");
    QTest::newRow("word") << QByteArray("abc");
    QTest::newRow("overflow") << QByteArray("1e999");
    QTest::newRow("huge") << QByteArray("99999999999999999999999");
    QTest::newRow("nan") << QByteArray("nan");
    QTest::newRow("inf") << QByteArray("inf");
    QTest::newRow("commas") << QByteArray(",,,");
    QTest::newRow("lone quote") << QByteArray("\"");
    QTest::newRow("trailing junk") << QByteArray("3x");
    QTest::newRow("nul byte") << QByteArray("1\0002", 3);
    QTest::newRow("long") << QByteArray(100000, '9');
}

void InstrumentModelTest::malformedArgumentsChangeNothing()
{
    QFETCH(QByteArray, argument);
    const QList<QByteArray> keywords =
        QByteArray("freq:tune freq:pllm fact:rfatten powe:lna freq:ref:refover freq:ref:ext "
                   "freq:ref:freq fact:slot2 syst:savestate syst:loadstate enet:ip enet:gateway "
                   "enet:submask enet:port enet:prot SYST:SENDSTR:0 SYST:TIME FACT:FACTMODE "
                   "FACT:ONEGATEVOLTAGE FACT:BIASGATE SYST:ATTN SYST:POWE")
            .split(' ');
    const QList<QByteArray> queries =
        QByteArray("syst:readstate? syst:bootstate? enet:ip? enet:port? SYST:GATEVOLT? SYST:ATTN? "
                   "SYST:READSTR:0? SYST:CURR?")
            .split(' ');
    InstrumentModel m;
    m.setPort(4000);
    QList<QByteArray> before;
    for (const QByteArray &q : queries)
        before << m.execute(q).value_or("<none>");

    for (const QByteArray &keyword : keywords)
        QVERIFY(!m.execute(keyword + ' ' + argument).has_value());

    for (int i = 0; i < queries.size(); ++i)
        QCOMPARE(m.execute(queries.at(i)).value_or("<none>"), before.at(i));
}

void InstrumentModelTest::faultCommands_data()
{
    QTest::addColumn<bool>("faults");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char *name, bool faults, const char *commands, int index,
                        const char *expected) {
        QTest::newRow(name) << faults << QByteArray(commands).split(';') << index
                            << QByteArray(expected);
    };
    row("LO2 unlocks", true, "fault:unlock 2", 5, "0");
    row("others stay locked", true, "fault:unlock 2", 4, "1");
    row("LO3 unlocks", true, "FAULT:UNLOCK 3", 6, "0");
    row("locks again", true, "fault:unlock 1;fault:lock 1", 4, "1");
    row("no LO 4", true, "fault:unlock 4;fault:unlock 0;fault:unlock x", 6, "1");
    row("hot", true, "fault:temperature 61.5", 13, "61.5");
    row("whole degrees", true, "fault:temperature 70", 13, "70");
    row("not a number", true, "fault:temperature 61.5;fault:temperature hot", 13, "61.5");
    row("absurd", true, "fault:temperature 1e6;fault:temperature nan", 13, "35.2");
    row("unknown without the option", false, "fault:unlock 1;fault:temperature 90", 4, "1");
    row("temperature without the option", false, "fault:temperature 90", 13, "35.2");
}

// The fault commands change the status only when enabled, and never answer.
void InstrumentModelTest::faultCommands()
{
    QFETCH(bool, faults);
    QFETCH(QByteArrayList, commands);
    QFETCH(int, index);
    InstrumentModel::Config config;
    config.faults = faults;
    InstrumentModel m(config);
    for (const QByteArray &command : commands)
        QVERIFY(!m.execute(command).has_value());
    QTEST(field(m, index), "expected");
}

QTEST_GUILESS_MAIN(InstrumentModelTest)
#include "instrumentmodeltest.moc"
