// usbConnection over the raw USBTMC backend, with simulated instruments where
// the USB bus would be: the same find, open, identify, inventory and traffic
// the VISA path is tested with, framed as USBTMC messages end to end.
#include "simulatedusbtmcport.h"
#include "usbconnection.h"
#include "winusbtmc.h"

#include <QtTest>

namespace
{

const QString firstPath = "usb:2012:4417:001:004:0";
const QString secondPath = "usb:2012:4417:001:005:0";

} // namespace

class TestUsbTmcStack : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        auto owned = std::make_unique<SimulatedUsbTmcPort>();
        port = owned.get();
        connection = std::make_unique<usbConnection>(new WinUSBTMC(std::move(owned)));
    }

    void findsOnlyInstrumentsThatIdentify()
    {
        InstrumentModel::Config other;
        other.idn = "ostrelin,KX4417-UDC,SN9,1.0";
        port->addDevice(secondPath.toStdString(), other);
        port->addDevice(firstPath.toStdString());

        QCOMPARE(connection->setupVISA(), 0);
        const QPair<int, QStringList> found = connection->findDevices();
        QCOMPARE(found.first, 1);
        QCOMPARE(found.second, QStringList{firstPath});
        connection->teardownVISA();
    }

    void opensIdentifiesAndInventories()
    {
        auto device = port->addDevice(firstPath.toStdString());
        QCOMPARE(connection->setupVISA(), 0);
        QCOMPARE(connection->openDevice(firstPath), 0);
        connection->identifyModules();

        QCOMPARE(connection->deviceInfo.address, firstPath);
        QCOMPARE(connection->deviceInfo.manufacturer, QString("Ostrelin"));
        QCOMPARE(connection->deviceInfo.model, QString("KX4417-UDC"));
        QCOMPARE(connection->deviceInfo.serialNumber, QString("SN000123"));
        QStringList names;
        for (const ModuleInfo *module : qAsConst(connection->moduleList))
            names << module->name;
        QCOMPARE(names, QStringList({"Port 0", "Port 1", "Port 2", "Port 3", "LCD Micro",
                                     "LCD Screen", "Altera FPGA"}));
        QVERIFY2(device->violations().isEmpty(), qPrintable(device->violations().join("; ")));
    }

    void commandsAndRepliesPassBothWays()
    {
        auto device = port->addDevice(firstPath.toStdString());
        QCOMPARE(connection->setupVISA(), 0);
        QCOMPARE(connection->openDevice(firstPath), 0);

        QVERIFY(connection->sendCommand("freq:pllm 1") > 0);
        QVERIFY(connection->sendCommand("freq:tune 12.3456") > 0);
        QVERIFY(connection->sendCommand("syst:readstate?") > 0);
        const QPair<int, QString> reply = connection->readResponse();

        QVERIFY(reply.first > 0);
        const QStringList fields = reply.second.trimmed().split(',');
        QCOMPARE(fields.size(), 16);
        QCOMPARE(fields.at(1), QString("12.4000"));
        QCOMPARE(fields.at(12), QString("1"));
        QCOMPARE(device->commands(),
                 QList<QByteArray>({"freq:pllm 1", "freq:tune 12.3456", "syst:readstate?"}));
        QVERIFY(device->violations().isEmpty());

        QCOMPARE(connection->closeDevice(), 0);
        QCOMPARE(connection->sendCommand("syst:readstate?"), -1);
    }

private:
    SimulatedUsbTmcPort *port = nullptr;
    std::unique_ptr<usbConnection> connection;
};

QTEST_GUILESS_MAIN(TestUsbTmcStack)
#include "tst_usbtmcstack.moc"
