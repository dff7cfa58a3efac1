#include "usbconnection.h"

#include "usblog.h"
#include "visabackend.h"
#include "wholenumber.h"
#include "winusbtmc.h"
#include "workerstop.h"

#include <limits>

#include <QMutex>
#include <QMutexLocker>

namespace
{

// Serialises backend setup and teardown across every usbConnection of the process.
QMutex &usbMutex()
{
    static QMutex mutex;
    return mutex;
}

constexpr int readBufferSize = 256;
constexpr int readMaximum = readBufferSize - 1;

// Decimal number in an instrument reply; anything else counts as 0.
int replyNumber(const QString &reply)
{
    return wholeNumber(reply.trimmed(), std::numeric_limits<int>::min()).value_or(0);
}

// The four fields of an identification reply, or an empty list.
QStringList identityFields(const QString &reply)
{
    const QStringList parts = reply.trimmed().split(',', Qt::KeepEmptyParts);
    return parts.size() == 4 ? parts : QStringList();
}

void takeIdentity(ModuleInfo *info, const QStringList &fields)
{
    info->manufacturer = fields.at(0);
    info->model = fields.at(1);
    info->serialNumber = fields.at(2);
    info->version = fields.at(3);
}

// A port command: the template with the port digit at `position`.
QByteArray portCommand(const char *pattern, int position, int port)
{
    QByteArray command(pattern);
    command[position] = char('0' + port);
    return command;
}

} // namespace

usbConnection::usbConnection() : transport(createBackend())
{
    clearDeviceInfo();
}

usbConnection::usbConnection(UsbCommBackend *backend)
    : transport(backend ? backend : createBackend())
{
    clearDeviceInfo();
}

usbConnection::~usbConnection()
{
    qDeleteAll(moduleList);
    delete transport;
}

UsbCommBackend *usbConnection::createBackend()
{
    auto *visa = new VisaBackend();
    if (visa->isAvailable())
        return visa;
    delete visa;
    return new WinUSBTMC();
}

int usbConnection::setupVISA()
{
    QMutexLocker locker(&usbMutex());
    deviceOpen = false;
    const int result = transport->setupBackend();
    if (result != 0)
        qCDebug(lcUsb, "usbConnection::setupVISA setupBackend failed");
    return result;
}

void usbConnection::teardownVISA()
{
    QMutexLocker locker(&usbMutex());
    transport->teardownBackend();
    deviceOpen = false;
}

QPair<int, QStringList> usbConnection::findDevices()
{
    return transport->findDevices();
}

int usbConnection::openDevice(const QString &target)
{
    const int result = transport->openDevice(target);
    // The flag follows the attempt, not its outcome: after a failed open the
    // backend itself refuses the traffic.
    deviceOpen = true;
    clearDeviceInfo();
    if (result == 0) {
        deviceInfo.address = target;
        deviceInfo.name = target;
    }
    return result;
}

int usbConnection::closeDevice()
{
    const int result = transport->closeDevice();
    deviceOpen = false;
    return result;
}

bool usbConnection::mayTransfer() const
{
    return deviceOpen && !workerStopRequested();
}

int usbConnection::sendCommand(const QString &command)
{
    if (!mayTransfer())
        return -1;
    const QByteArray bytes = command.toLatin1();
    return transport->write(bytes.constData(), bytes.size());
}

int usbConnection::sendCommandBytes(const QByteArray &command)
{
    if (!mayTransfer())
        return -1;
    const int result = transport->write(command.constData(), command.size());
    return result < 0 ? -1 : result;
}

int usbConnection::readInto(char *buffer)
{
    const int count = transport->read(buffer, readMaximum);
    if (count > readMaximum) {
        qCDebug(lcUsb, "USB backend returned %d bytes for a read of at most %d; cut", count,
                readMaximum);
        return readMaximum;
    }
    return count;
}

QPair<int, QString> usbConnection::readResponse()
{
    if (!mayTransfer())
        return {-1, QString()};
    char buffer[readBufferSize];
    const int count = readInto(buffer);
    if (count < 0)
        return {-1, QString()};
    buffer[count] = '\0';
    // The text ends at the first NUL byte; the count still tells what arrived.
    return {count, QString::fromUtf8(buffer)};
}

QPair<int, QByteArray> usbConnection::readResponseBytes()
{
    if (!mayTransfer())
        return {-1, QByteArray()};
    char buffer[readBufferSize];
    const int count = readInto(buffer);
    if (count < 0)
        return {-1, QByteArray()};
    return {count, QByteArray(buffer, count)};
}

bool usbConnection::query(const QByteArray &command, QString *reply, bool sendMustSucceed)
{
    if (sendCommandBytes(command) < 0 && sendMustSucceed)
        return false;
    const QPair<int, QString> response = readResponse();
    if (response.first < 0)
        return false;
    *reply = response.second;
    return true;
}

void usbConnection::identifyModules()
{
    QString reply;
    if (!query("*IDN?", &reply, false))
        return;
    const QStringList fields = identityFields(reply);
    if (fields.isEmpty())
        return;
    takeIdentity(&deviceInfo, fields);

    if (!query("SYST:FIRMID?", &reply, false))
        return;
    deviceInfo.firmwareId = reply;

    if (!query("SYST:MODU?", &reply, false))
        return;
    const int portMask = replyNumber(reply);
    for (int port = 0; port < 4; ++port) {
        if (!(portMask & (1 << port)))
            continue;
        auto *module = new ModuleInfo;
        if (!identifyPort(port, module))
            *module = ModuleInfo();
        moduleList.append(module);
    }

    if (identifyLcd())
        identifyFpga();
}

bool usbConnection::identifyPort(int port, ModuleInfo *module)
{
    // Makes the instrument pass "*IDN?" on to the module; the answer is fetched by READSTR.
    if (sendCommandBytes(portCommand("SYST:SENDSTR:0 \"*IDN?\"", 13, port)) < 0)
        return false;
    QString reply;
    if (!query(portCommand("SYST:READSTR:0?", 13, port), &reply, true))
        return false;
    const QStringList fields = identityFields(reply);
    if (fields.isEmpty())
        return false;
    takeIdentity(module, fields);

    if (!query(portCommand("SYST:FIRMID:0?", 12, port), &reply, true))
        return false;
    module->firmwareId = reply;
    module->name = QString::asprintf("Port %d", port);
    module->address = QString::number(port);
    return true;
}

bool usbConnection::identifyLcd()
{
    QString reply;
    if (!query("LCD:LCD?", &reply, true))
        return false;
    if (replyNumber(reply) != 1)
        return true;

    QString serial;
    QString version;
    if (!query("LCD:SERNUM?", &serial, true) || !query("LCD:VERS?", &version, true)) {
        moduleList.append(new ModuleInfo);
        return false;
    }
    auto *micro = new ModuleInfo;
    micro->name = "LCD Micro";
    micro->address = "11";
    micro->manufacturer = "Ostrelin";
    micro->model = "LCD Micro";
    micro->serialNumber = serial.trimmed();
    micro->version = version.trimmed();
    micro->firmwareId = "0002";
    moduleList.append(micro);

    auto *screen = new ModuleInfo(*micro);
    screen->name = "LCD Screen";
    screen->address = "10";
    screen->model = "LCD Screen";
    screen->firmwareId = "0003";
    moduleList.append(screen);
    return true;
}

void usbConnection::identifyFpga()
{
    QString reply;
    if (!query("SYST:ALTERA?", &reply, true))
        return;
    if (replyNumber(reply) == 0)
        return;
    auto *fpga = new ModuleInfo;
    fpga->name = "Altera FPGA";
    fpga->address = "12";
    fpga->manufacturer = "Ostrelin";
    fpga->model = "Altera FPGA";
    fpga->firmwareId = reply.trimmed();
    fpga->serialNumber = deviceInfo.serialNumber;
    fpga->version = deviceInfo.version;
    moduleList.append(fpga);
}

void usbConnection::clearDeviceInfo()
{
    deviceInfo = ModuleInfo();
    qDeleteAll(moduleList);
    moduleList.clear();
}

void usbConnection::getAttribute(const unsigned *attribute, int *value)
{
    transport->getAttribute(attribute, value);
}

void usbConnection::setAttribute(const unsigned *attribute, int value)
{
    transport->setAttribute(attribute, value);
}

void usbConnection::setReadBufferSize(int size)
{
    transport->setReadBufferSize(size);
}
