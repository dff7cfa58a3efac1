#ifndef HARDWAREABSTRACTIONUSB_H
#define HARDWAREABSTRACTIONUSB_H

#include "hardwareabstraction.h"

#include <functional>

class usbConnection;

// The instrument over USB: every typed operation is one command of the
// instrument's text language, sent through one usbConnection; a query reads
// exactly one reply and converts it. The usbConnection is made on the first
// device listing and kept until this object is destroyed.
class HardwareAbstractionUSB : public HardwareAbstraction
{
    Q_OBJECT

public:
    explicit HardwareAbstractionUSB(QObject *parent = nullptr);
    // The factory is called on the first getDeviceList instead of creating a
    // usbConnection with its own backend choice; until it yields one, listing
    // fails like a failed transport setup.
    HardwareAbstractionUSB(std::function<usbConnection *()> factory, QObject *parent = nullptr);
    ~HardwareAbstractionUSB() override;
    HardwareAbstractionUSB(const HardwareAbstractionUSB &) = delete;
    HardwareAbstractionUSB &operator=(const HardwareAbstractionUSB &) = delete;

    int openConnection(QString target) override;
    int closeConnection() override;
    bool isAlive() override;
    int setTime(float time) override;
    float getTime() override;
    int oneGateVoltage(int channel, int device, double voltage) override;
    int oneGateVoltageIndex(int index, double voltage) override;
    int biasGateVoltage(int channel, int device) override;
    int biasGateVoltageIndex(int index) override;
    int enterFactoryMode() override;
    int saveGate() override;
    int sendVISACommand(QString command) override;
    int sendVISACommandBytes(QByteArray command) override;
    QList<float> getStoredGateVoltages() override;
    QPair<int, QByteArray> readVISAResponseByte() override;
    QPair<int, QString> readVISAResponseString() override;
    void setReadBufferSize(int size) override;
    void getAttribute(const unsigned *attribute, int *value) override;
    void setAttribute(const unsigned *attribute, int value) override;
    QList<float> getGateVoltages() override;
    QList<int> getCurrents() override;
    QList<float> getTemps() override;
    int getBoardId() override;
    int getSerialNumber() override;
    QString getFirmVer(int module) override;
    QList<int> getFirmVerNumbers() override;
    int setAtten(int channel, int value) override;
    QList<int> getAttens() override;
    int setPower(int channel, bool pow) override;
    int setPower(bool pow) override;
    QList<int> getStatus() override;
    QPair<int, QStringList> getDeviceList() override;
    QPair<int, QStringList> findDeviceNames() override;
    QList<ModuleInfo> inventory() override;

private:
    // Sends the command and reads one reply; false when not open or the read failed.
    bool query(const QString &command, QString *reply);
    // Sends a write command while open: 0 when handed over, -1 when not open.
    int write(const QString &command);
    QList<int> intListQuery(const QString &command);
    QList<float> floatListQuery(const QString &command);
    int intQuery(const QString &command);
    // Sets the transport up and lists the instruments: results as
    // getDeviceList; the transport is left set up unless the result is -1.
    QPair<int, QStringList> setUpAndFind();

    usbConnection *connection = nullptr;
    bool open = false;
    std::function<usbConnection *()> makeConnection;
};

#endif
