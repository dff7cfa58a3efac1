// HardwareAbstractionUSB over the real usbConnection and raw USBTMC backend,
// with strict simulated USBTMC instruments where the USB bus would be.
#include "hardwareabstractionusb.h"
#include "messagelog.h"
#include "simulatedusbtmcport.h"
#include "usbconnection.h"
#include "visabackend.h"
#include "winusbtmc.h"

#include <QtTest>
#include <functional>
#include <map>
#include <memory>

namespace
{

const QString firstPath = "usb:2012:4417:001:004:0";
const QString secondPath = "usb:2012:4417:001:005:0";

// An instrument without modules, LCD or FPGA: its inventory is five queries,
// which keeps the per-test listing short.
InstrumentModel::Config bareInstrument()
{
    InstrumentModel::Config config;
    config.moduleMask = 0;
    config.lcdFitted = 0;
    config.alteraId = "0";
    return config;
}

// A bus on which an instrument can be claimed by another program between the
// enumeration and the next open, as happens when two tools share a machine.
class ContestedPort : public SimulatedUsbTmcPort
{
public:
    void claimAfterListing(std::shared_ptr<SimulatedUsbTmcDevice> device)
    {
        claimed.push_back(std::move(device));
    }

    bool endEnumeration() override
    {
        for (const auto &device : claimed)
            device->setOpenError(errorSharingViolation);
        return SimulatedUsbTmcPort::endEnumeration();
    }

private:
    std::vector<std::shared_ptr<SimulatedUsbTmcDevice>> claimed;
};

// The instrument-access object on its own simulated bus. The bus is handed
// to the usbConnection only when the first listing asks for it.
struct Rig {
    Rig()
    {
        auto owned = std::make_unique<ContestedPort>();
        port = owned.get();
        auto pending = std::make_shared<std::unique_ptr<ContestedPort>>(std::move(owned));
        int *calls = &factoryCalls;
        hardware = std::make_unique<HardwareAbstractionUSB>([pending, calls] {
            ++*calls;
            return new usbConnection(new WinUSBTMC(std::move(*pending)));
        });
    }

    std::shared_ptr<SimulatedUsbTmcDevice> add(const QString &path)
    {
        return port->addDevice(path.toStdString(), bareInstrument());
    }

    // Adds an instrument at firstPath as `device`, lists and opens it, then
    // forgets the traffic so far.
    bool openFirst()
    {
        device = add(firstPath);
        const bool opened = hardware->getDeviceList() == qMakePair(0, QStringList{firstPath}) &&
                            hardware->openConnection(firstPath) == 0;
        device->clearRecords();
        return opened;
    }

    ContestedPort *port;
    std::shared_ptr<SimulatedUsbTmcDevice> device;
    int factoryCalls = 0;
    std::unique_ptr<HardwareAbstractionUSB> hardware;
};

using Operation = std::function<int(HardwareAbstraction &)>;

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestHardwareUsb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void nothingWorksBeforeTheFirstListing();
    void listingWithoutInstruments();
    void listingSkipsAnInstrumentThatFailsToOpen();
    void typedOperationsWaitForOpen();
    void commandTexts_data();
    void commandTexts();
    void readsTheInstrumentsReplies();
    void failedReadLeavesTheInstrumentOpen();
    void listingWhileOpenEndsTheOpenState();
    void failedTransportSetup();

private:
    std::unique_ptr<Rig> shared;
};

void TestHardwareUsb::initTestCase()
{
    // Numbers must reach the instrument in the C locale whatever the machine's.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    shared = std::make_unique<Rig>();
    QVERIFY(shared->openFirst());
}

void TestHardwareUsb::nothingWorksBeforeTheFirstListing()
{
    Rig rig;
    auto device = rig.add(firstPath);
    HardwareAbstractionUSB &hardware = *rig.hardware;

    QCOMPARE(hardware.openConnection(firstPath), -10);
    QCOMPARE(hardware.sendVISACommand("*IDN?"), -1);
    QCOMPARE(hardware.sendVISACommandBytes("*IDN?"), -1);
    QCOMPARE(hardware.readVISAResponseString(), qMakePair(-1, QString()));
    QCOMPARE(hardware.readVISAResponseByte(), qMakePair(-1, QByteArray()));
    QCOMPARE(hardware.closeConnection(), 0);
    hardware.setReadBufferSize(512);
    int value = 7;
    const unsigned attribute = 1;
    hardware.getAttribute(&attribute, &value);
    hardware.setAttribute(&attribute, 3);
    QCOMPARE(value, 7);
    QVERIFY(hardware.isAlive());

    QCOMPARE(rig.factoryCalls, 0);
    QVERIFY(device->outFrames().isEmpty());
}

void TestHardwareUsb::listingWithoutInstruments()
{
    Rig rig;
    MessageLog debug;
    QCOMPARE(rig.hardware->getDeviceList(), qMakePair(0, QStringList()));
    QCOMPARE(rig.hardware->getDeviceList(), qMakePair(0, QStringList()));
    QVERIFY(!debug.lines().contains("Could not detect USB devices"));
    // The connection made by the first listing is kept.
    QCOMPARE(rig.factoryCalls, 1);
}

void TestHardwareUsb::listingSkipsAnInstrumentThatFailsToOpen()
{
    Rig rig;
    auto claimed = rig.add(firstPath);
    auto free = rig.add(secondPath);
    rig.port->claimAfterListing(claimed);

    MessageLog debug;
    QCOMPARE(rig.hardware->getDeviceList(), qMakePair(0, QStringList{secondPath}));
    QCOMPARE(debug.lines().count("Could not detect USB devices"), 1);

    // The listed instrument was identified, inventoried and closed again.
    QVERIFY(free->commands().contains("SYST:FIRMID?"));
    QVERIFY(free->commands().contains("SYST:ALTERA?"));
    QVERIFY(!free->isOpen());
    QCOMPARE(free->violations(), QStringList());
}

void TestHardwareUsb::typedOperationsWaitForOpen()
{
    Rig rig;
    auto device = rig.add(firstPath);
    HardwareAbstractionUSB &hardware = *rig.hardware;
    const auto refusesEverything = [&hardware] {
        QCOMPARE(hardware.setTime(1.0f), -1);
        QCOMPARE(hardware.getTime(), -1.0f);
        QCOMPARE(hardware.oneGateVoltage(1, 0, -0.5), -1);
        QCOMPARE(hardware.oneGateVoltageIndex(0, -0.5), -1);
        QCOMPARE(hardware.biasGateVoltage(1, 0), -1);
        QCOMPARE(hardware.biasGateVoltageIndex(99), -1);
        QCOMPARE(hardware.enterFactoryMode(), -1);
        QCOMPARE(hardware.saveGate(), -1);
        QCOMPARE(hardware.setAtten(1, 3), -1);
        QCOMPARE(hardware.setPower(9, true), -1);
        QCOMPARE(hardware.setPower(true), -1);
        QVERIFY(hardware.getStoredGateVoltages().isEmpty());
        QVERIFY(hardware.getGateVoltages().isEmpty());
        QVERIFY(hardware.getCurrents().isEmpty());
        QVERIFY(hardware.getTemps().isEmpty());
        QVERIFY(hardware.getAttens().isEmpty());
        QVERIFY(hardware.getStatus().isEmpty());
        QCOMPARE(hardware.getBoardId(), -1);
        QCOMPARE(hardware.getSerialNumber(), -1);
        QCOMPARE(hardware.getFirmVer(0), QString());
        QVERIFY(hardware.getFirmVerNumbers().isEmpty());
    };

    refusesEverything();
    QCOMPARE(hardware.getDeviceList(), qMakePair(0, QStringList{firstPath}));
    device->clearRecords();
    refusesEverything();
    QVERIFY(device->outFrames().isEmpty());

    QCOMPARE(hardware.openConnection(firstPath), 0);
    QCOMPARE(hardware.getTemps(), QList<float>({35.2f, 34.8f, 36.1f, 35.5f, 33.9f}));

    QCOMPARE(hardware.closeConnection(), 0);
    QVERIFY(!device->isOpen());
    device->clearRecords();
    refusesEverything();
    QVERIFY(device->outFrames().isEmpty());

    // A failed open leaves the object closed as well.
    QCOMPARE(hardware.openConnection("usb:2012:4417:009:009:0"), -2);
    refusesEverything();
    QVERIFY(device->outFrames().isEmpty());
}

void TestHardwareUsb::commandTexts_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<QByteArray>>("sent");

    using H = HardwareAbstraction;
    const auto row = [](const char *name, Operation op, int result, QList<QByteArray> sent) {
        QTest::newRow(name) << op << result << sent;
    };
    row("bias gate 5,1", [](H &h) { return h.biasGateVoltage(5, 1); }, 0, {"FACT:BIASGATE 5,1"});
    row("bias gate 5,2: no such gate", [](H &h) { return h.biasGateVoltage(5, 2); }, -2, {});
    row("bias gate 0,0", [](H &h) { return h.biasGateVoltage(0, 0); }, -2, {});
    row("bias gate 1,5", [](H &h) { return h.biasGateVoltage(1, 5); }, -2, {});
    row("bias gate 1,-1", [](H &h) { return h.biasGateVoltage(1, -1); }, -2, {});
    row("bias index 21", [](H &h) { return h.biasGateVoltageIndex(21); }, 0, {"FACT:BIASGATE 5,1"});
    row("bias index 22", [](H &h) { return h.biasGateVoltageIndex(22); }, -2, {});
    row("bias index -1", [](H &h) { return h.biasGateVoltageIndex(-1); }, -2, {});
    row("gate index 7", [](H &h) { return h.oneGateVoltageIndex(7, -0.5); }, 0,
        {"FACT:ONEGATEVOLTAGE 2,2,-0.5"});
    row("gate 1,0 rounded", [](H &h) { return h.oneGateVoltage(1, 0, 1.2345678); }, 0,
        {"FACT:ONEGATEVOLTAGE 1,0,1.23457"});
    row("time 1234567", [](H &h) { return h.setTime(1234567); }, 0, {"SYST:TIME 1.23457e+06"});
    row("time 12.5", [](H &h) { return h.setTime(12.5f); }, 0, {"SYST:TIME 12.5"});
    row("time 0.00001", [](H &h) { return h.setTime(0.00001f); }, 0, {"SYST:TIME 1e-05"});
    row("power on", [](H &h) { return h.setPower(true); }, 0, {"SYST:POWE 1"});
    row("power channel 5 off", [](H &h) { return h.setPower(5, false); }, 0, {"SYST:POWE 0"});
    row("power channel 0", [](H &h) { return h.setPower(0, true); }, -2, {});
    row("power channel 6", [](H &h) { return h.setPower(6, true); }, -2, {});
    row("atten 3,15", [](H &h) { return h.setAtten(3, 15); }, 0, {"SYST:ATTN 3,15"});
    row("atten 9,-4", [](H &h) { return h.setAtten(9, -4); }, 0, {"SYST:ATTN 9,-4"});
    row("factory mode", [](H &h) { return h.enterFactoryMode(); }, 0, {"FACT:FACTMODE 48173"});
    // Pass-through sends answer what the raw backend wrote: the whole frame,
    // header and alignment included.
    row("text command", [](H &h) { return h.sendVISACommand("freq:tune 12.5000"); }, 32,
        {"freq:tune 12.5000"});
    row("byte command", [](H &h) { return h.sendVISACommandBytes("syst:savestate 2"); }, 28,
        {"syst:savestate 2"});
}

void TestHardwareUsb::commandTexts()
{
    QFETCH(Operation, operation);
    QFETCH(int, result);
    QFETCH(QList<QByteArray>, sent);

    shared->device->clearRecords();
    QCOMPARE(operation(*shared->hardware), result);
    QCOMPARE(shared->device->commands(), sent);
    QCOMPARE(shared->device->violations(), QStringList());
}

void TestHardwareUsb::readsTheInstrumentsReplies()
{
    Rig rig;
    QVERIFY(rig.openFirst());
    HardwareAbstractionUSB &hardware = *rig.hardware;

    hardware.setAtten(1, 10);
    hardware.setAtten(2, 20);
    QCOMPARE(hardware.getAttens(), QList<int>({10, 20, 0, 0, 0}));
    QCOMPARE(hardware.getCurrents(), QList<int>({412, 398, 405, 420, 150}));
    hardware.setPower(false);
    QCOMPARE(hardware.getCurrents(), QList<int>({0, 0, 0, 0, 0}));
    QCOMPARE(hardware.getStatus(), QList<int>({0, 0, 0, 0}));

    hardware.oneGateVoltageIndex(7, -1.25);
    hardware.biasGateVoltage(5, 1);
    QList<float> gates = hardware.getGateVoltages();
    QCOMPARE(gates.size(), 22);
    QCOMPARE(gates.value(7), -1.25f);
    QCOMPARE(gates.value(21), -0.75f);
    QCOMPARE(hardware.getStoredGateVoltages().value(7), -0.5f);
    hardware.saveGate();
    QCOMPARE(hardware.getStoredGateVoltages(), gates);

    hardware.setTime(12.5f);
    QCOMPARE(hardware.getTime(), 12.5f);
    QCOMPARE(hardware.getBoardId(), 17);
    QCOMPARE(hardware.getSerialNumber(), 123);
    QCOMPARE(hardware.getFirmVer(0), QString("V2.10.3\n"));
    QCOMPARE(hardware.getFirmVerNumbers(), QList<int>({2, 10, 3}));

    // The transport's own passage: a command, then one reply.
    QCOMPARE(hardware.sendVISACommand("SYST:FIRMID?"), 24);
    QCOMPARE(hardware.readVISAResponseString(), qMakePair(5, QString("0042\n")));
    QVERIFY(hardware.sendVISACommand("SYST:MODU?") > 0);
    QCOMPARE(hardware.readVISAResponseByte(), qMakePair(2, QByteArray("0\n")));
    QCOMPARE(rig.device->violations(), QStringList());
}

void TestHardwareUsb::failedReadLeavesTheInstrumentOpen()
{
    Rig rig;
    QVERIFY(rig.openFirst());
    HardwareAbstractionUSB &hardware = *rig.hardware;

    rig.port->setReadError(SimulatedUsbTmcPort::errorInvalidParameter);
    QVERIFY(hardware.getTemps().isEmpty());
    QCOMPARE(hardware.getTime(), -1.0f);
    QCOMPARE(hardware.getBoardId(), -1);
    QCOMPARE(hardware.getSerialNumber(), -1);
    QCOMPARE(hardware.getFirmVer(0), QString());
    QVERIFY(hardware.getFirmVerNumbers().isEmpty());
    QCOMPARE(rig.device->commands(),
             QList<QByteArray>({"SYST:TEMP?", "SYST:TIME?", "SYST:BOARDID?", "SYST:SERNUM?",
                                "SYST:FIRM?", "SYST:FIRM?"}));

    rig.port->setReadError(0);
    QCOMPARE(hardware.getBoardId(), 17);
}

void TestHardwareUsb::listingWhileOpenEndsTheOpenState()
{
    Rig rig;
    QVERIFY(rig.openFirst());
    HardwareAbstractionUSB &hardware = *rig.hardware;

    // A failed enumeration has already reset the transport: the instrument no
    // longer takes commands, so typed writes must not claim to have sent them.
    rig.port->setListError(SimulatedUsbTmcPort::errorInvalidParameter);
    QCOMPARE(hardware.getDeviceList(), qMakePair(-4, QStringList()));
    rig.device->clearRecords();
    QCOMPARE(hardware.setAtten(1, 5), -1);
    QVERIFY(hardware.getTemps().isEmpty());
    QVERIFY(rig.device->outFrames().isEmpty());

    rig.port->setListError(0);
    QCOMPARE(hardware.openConnection(firstPath), 0);
    QCOMPARE(hardware.getDeviceList(), qMakePair(0, QStringList{firstPath}));
    rig.device->clearRecords();
    QCOMPARE(hardware.setAtten(1, 5), -1);
    QVERIFY(rig.device->outFrames().isEmpty());
    QCOMPARE(rig.factoryCalls, 1);
}

void TestHardwareUsb::failedTransportSetup()
{
    // Without a loadable VISA library this backend cannot be set up.
    HardwareAbstractionUSB hardware([] { return new usbConnection(new VisaBackend()); });
    QCOMPARE(hardware.getDeviceList(), qMakePair(-1, QStringList()));
    QCOMPARE(hardware.openConnection("USB0::0x2012::0x4417::SN0001::INSTR"), -1);
    QCOMPARE(hardware.setPower(true), -1);

    HardwareAbstractionUSB withoutConnection([] { return nullptr; });
    QCOMPARE(withoutConnection.getDeviceList(), qMakePair(-1, QStringList()));
    QCOMPARE(withoutConnection.openConnection("USB0::0x2012::0x4417::SN0001::INSTR"), -10);
}

QTEST_GUILESS_MAIN(TestHardwareUsb)
#include "tst_hardwareusb.moc"
