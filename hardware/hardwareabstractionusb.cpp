#include "hardwareabstractionusb.h"

#include "hardwarelog.h"
#include "usbconnection.h"
#include "wholenumber.h"
#include "workerstop.h"

#include <limits>

namespace
{

// Highest gate index the board has: channels 1 to 4 carry five devices,
// channel 5 only two.
constexpr unsigned lastGateIndex = 21;

// Number arguments are written in the C locale whatever the machine's
// locale: six significant digits, exponent form for very large or small values.
QString decimal(double value)
{
    return QString::number(value, 'g', 6);
}

int toInt(const QString &field)
{
    return wholeNumber(field.trimmed(), std::numeric_limits<int>::min()).value_or(0);
}

float toFloat(const QString &field)
{
    bool ok = false;
    const float value = field.trimmed().toFloat(&ok);
    return ok ? value : 0.0f;
}

} // namespace

HardwareAbstractionUSB::HardwareAbstractionUSB(QObject *parent)
    : HardwareAbstractionUSB([] { return new usbConnection(); }, parent)
{
}

HardwareAbstractionUSB::HardwareAbstractionUSB(std::function<usbConnection *()> factory,
                                               QObject *parent)
    : HardwareAbstraction(parent), makeConnection(std::move(factory))
{
}

HardwareAbstractionUSB::~HardwareAbstractionUSB()
{
    // Deleting the transport does not end an instrument session; one left
    // open would keep the instrument claimed.
    if (open)
        closeConnection();
    delete connection;
}

int HardwareAbstractionUSB::openConnection(QString target)
{
    open = false;
    if (!connection)
        return -10;
    if (connection->setupVISA() < 0)
        return -1;
    if (connection->openDevice(target) < 0) {
        connection->teardownVISA();
        return -2;
    }
    open = true;
    return 0;
}

int HardwareAbstractionUSB::closeConnection()
{
    open = false;
    if (connection) {
        connection->closeDevice();
        connection->teardownVISA();
    }
    return 0;
}

bool HardwareAbstractionUSB::isAlive()
{
    return true;
}

int HardwareAbstractionUSB::setTime(float time)
{
    return write(QStringLiteral("SYST:TIME %1").arg(decimal(time)));
}

float HardwareAbstractionUSB::getTime()
{
    QString reply;
    if (!query(QStringLiteral("SYST:TIME?"), &reply))
        return -1.0f;
    bool ok = false;
    const float value = reply.trimmed().toFloat(&ok);
    return ok ? value : -1.0f;
}

int HardwareAbstractionUSB::oneGateVoltage(int channel, int device, double voltage)
{
    return write(QStringLiteral("FACT:ONEGATEVOLTAGE %1,%2,%3")
                     .arg(channel)
                     .arg(device)
                     .arg(decimal(voltage)));
}

int HardwareAbstractionUSB::oneGateVoltageIndex(int index, double voltage)
{
    if (!open)
        return -1;
    return oneGateVoltage(index / 5 + 1, index % 5, voltage);
}

int HardwareAbstractionUSB::biasGateVoltage(int channel, int device)
{
    if (!open)
        return -1;
    // Unsigned comparisons so that negative channels and devices are refused too.
    const unsigned channelOffset = unsigned(channel) - 1u;
    const unsigned gate = channelOffset * 5u + unsigned(device);
    if (channelOffset > 4u || unsigned(device) > 4u || gate > lastGateIndex)
        return -2;
    return write(QStringLiteral("FACT:BIASGATE %1,%2").arg(channel).arg(device));
}

int HardwareAbstractionUSB::biasGateVoltageIndex(int index)
{
    if (!open)
        return -1;
    return biasGateVoltage(index / 5 + 1, index % 5);
}

int HardwareAbstractionUSB::enterFactoryMode()
{
    return write(QStringLiteral("FACT:FACTMODE 48173"));
}

int HardwareAbstractionUSB::saveGate()
{
    return write(QStringLiteral("FACT:SAVEGATE"));
}

int HardwareAbstractionUSB::sendVISACommand(QString command)
{
    return connection ? connection->sendCommand(command) : -1;
}

int HardwareAbstractionUSB::sendVISACommandBytes(QByteArray command)
{
    return connection ? connection->sendCommandBytes(command) : -1;
}

QList<float> HardwareAbstractionUSB::getStoredGateVoltages()
{
    return floatListQuery(QStringLiteral("FACT:STORGATE?"));
}

QPair<int, QByteArray> HardwareAbstractionUSB::readVISAResponseByte()
{
    return connection ? connection->readResponseBytes() : qMakePair(-1, QByteArray());
}

QPair<int, QString> HardwareAbstractionUSB::readVISAResponseString()
{
    return connection ? connection->readResponse() : qMakePair(-1, QString());
}

void HardwareAbstractionUSB::setReadBufferSize(int size)
{
    if (connection)
        connection->setReadBufferSize(size);
}

void HardwareAbstractionUSB::getAttribute(const unsigned *attribute, int *value)
{
    if (connection)
        connection->getAttribute(attribute, value);
}

void HardwareAbstractionUSB::setAttribute(const unsigned *attribute, int value)
{
    if (connection)
        connection->setAttribute(attribute, value);
}

QList<float> HardwareAbstractionUSB::getGateVoltages()
{
    return floatListQuery(QStringLiteral("SYST:GATEVOLT?"));
}

QList<int> HardwareAbstractionUSB::getCurrents()
{
    return intListQuery(QStringLiteral("SYST:CURR?"));
}

QList<float> HardwareAbstractionUSB::getTemps()
{
    return floatListQuery(QStringLiteral("SYST:TEMP?"));
}

int HardwareAbstractionUSB::getBoardId()
{
    return intQuery(QStringLiteral("SYST:BOARDID?"));
}

int HardwareAbstractionUSB::getSerialNumber()
{
    return intQuery(QStringLiteral("SYST:SERNUM?"));
}

QString HardwareAbstractionUSB::getFirmVer(int)
{
    QString reply;
    return query(QStringLiteral("SYST:FIRM?"), &reply) ? reply : QString();
}

QList<int> HardwareAbstractionUSB::getFirmVerNumbers()
{
    QString reply;
    if (!query(QStringLiteral("SYST:FIRM?"), &reply))
        return {};
    // The first character is the version's letter prefix ("V2.10.3").
    QList<int> numbers;
    for (const QString &field : reply.mid(1).split('.', Qt::KeepEmptyParts))
        numbers << toInt(field);
    return numbers;
}

int HardwareAbstractionUSB::setAtten(int channel, int value)
{
    return write(QStringLiteral("SYST:ATTN %1,%2").arg(channel).arg(value));
}

QList<int> HardwareAbstractionUSB::getAttens()
{
    return intListQuery(QStringLiteral("SYST:ATTN?"));
}

int HardwareAbstractionUSB::setPower(int channel, bool pow)
{
    if (!open)
        return -1;
    if (channel < 1 || channel > 5)
        return -2;
    // The instrument switches the power of all channels at once; there is no
    // per-channel power command.
    return setPower(pow);
}

int HardwareAbstractionUSB::setPower(bool pow)
{
    return write(QStringLiteral("SYST:POWE %1").arg(pow ? 1 : 0));
}

QList<int> HardwareAbstractionUSB::getStatus()
{
    return intListQuery(QStringLiteral("SYST:MODULESTATUS?"));
}

QPair<int, QStringList> HardwareAbstractionUSB::setUpAndFind()
{
    if (!connection && makeConnection)
        connection = makeConnection();
    if (!connection)
        return {-1, {}};
    // Setting the transport up again drops whatever device the connection had
    // open, so typed operations must no longer report commands as sent.
    open = false;
    if (connection->setupVISA() < 0)
        return {-1, {}};
    const QPair<int, QStringList> found = connection->findDevices();
    if (found.first < 0)
        return {-4, {}};
    return {0, found.second};
}

QPair<int, QStringList> HardwareAbstractionUSB::getDeviceList()
{
    QPair<int, QStringList> found = setUpAndFind();
    if (found.first < 0)
        return found;
    QStringList opened;
    for (const QString &resource : found.second) {
        // Each instrument takes about a second to identify.
        if (workerStopRequested())
            break;
        if (connection->openDevice(resource) < 0) {
            qCDebug(lcHardware, "Could not detect USB devices");
            continue;
        }
        connection->identifyModules();
        opened << connection->deviceInfo.address;
        connection->closeDevice();
    }
    connection->teardownVISA();
    return {0, opened};
}

QPair<int, QStringList> HardwareAbstractionUSB::findDeviceNames()
{
    QPair<int, QStringList> found = setUpAndFind();
    if (found.first != -1)
        connection->teardownVISA();
    return found;
}

QList<ModuleInfo> HardwareAbstractionUSB::inventory()
{
    if (!open)
        return {};
    // The identification adds to the records it finds, so start from none;
    // the resource name is the one thing it does not ask the instrument for.
    const ModuleInfo opened = connection->deviceInfo;
    connection->clearDeviceInfo();
    connection->deviceInfo.name = opened.name;
    connection->deviceInfo.address = opened.address;
    connection->identifyModules();
    QList<ModuleInfo> found = {connection->deviceInfo};
    for (const ModuleInfo *module : connection->moduleList)
        found << *module;
    return found;
}

bool HardwareAbstractionUSB::query(const QString &command, QString *reply)
{
    if (!open)
        return false;
    connection->sendCommand(command);
    const QPair<int, QString> response = connection->readResponse();
    if (response.first < 0)
        return false;
    *reply = response.second;
    return true;
}

int HardwareAbstractionUSB::write(const QString &command)
{
    if (!open)
        return -1;
    connection->sendCommand(command);
    return 0;
}

QList<int> HardwareAbstractionUSB::intListQuery(const QString &command)
{
    QString reply;
    if (!query(command, &reply))
        return {};
    QList<int> values;
    for (const QString &field : reply.split(',', Qt::KeepEmptyParts))
        values << toInt(field);
    return values;
}

QList<float> HardwareAbstractionUSB::floatListQuery(const QString &command)
{
    QString reply;
    if (!query(command, &reply))
        return {};
    QList<float> values;
    for (const QString &field : reply.split(',', Qt::KeepEmptyParts))
        values << toFloat(field);
    return values;
}

int HardwareAbstractionUSB::intQuery(const QString &command)
{
    QString reply;
    return query(command, &reply) ? toInt(reply) : -1;
}
