#ifndef HARDWAREABSTRACTION_H
#define HARDWAREABSTRACTION_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

// The instrument as typed operations, independent of how it is reached. The
// connection manager lists, opens and closes instruments through it and
// passes command texts and replies; the factory operations complete the set
// for direct control.
class HardwareAbstraction : public QObject
{
    Q_OBJECT

public:
    explicit HardwareAbstraction(QObject *parent = nullptr) : QObject(parent) {}
    ~HardwareAbstraction() override = default;

    virtual int openConnection(QString target) = 0;
    virtual int closeConnection() = 0;
    virtual bool isAlive() = 0;
    virtual int setTime(float time) = 0;
    virtual float getTime() = 0;
    virtual int oneGateVoltage(int channel, int device, double voltage) = 0;
    virtual int oneGateVoltageIndex(int index, double voltage) = 0;
    virtual int biasGateVoltage(int channel, int device) = 0;
    virtual int biasGateVoltageIndex(int index) = 0;
    virtual int enterFactoryMode() = 0;
    virtual int saveGate() = 0;
    virtual int sendVISACommand(QString command) = 0;
    virtual int sendVISACommandBytes(QByteArray command) = 0;
    virtual QList<float> getStoredGateVoltages() = 0;
    virtual QPair<int, QByteArray> readVISAResponseByte() = 0;
    virtual QPair<int, QString> readVISAResponseString() = 0;
    virtual void setReadBufferSize(int size) = 0;
    virtual void getAttribute(const unsigned *attribute, int *value) = 0;
    virtual void setAttribute(const unsigned *attribute, int value) = 0;
    virtual QList<float> getGateVoltages() = 0;
    virtual QList<int> getCurrents() = 0;
    virtual QList<float> getTemps() = 0;
    virtual int getBoardId() = 0;
    virtual int getSerialNumber() = 0;
    // The argument selects nothing on USB instruments; it is kept so other
    // transports can address a sub-module's firmware.
    virtual QString getFirmVer(int module) = 0;
    virtual QList<int> getFirmVerNumbers() = 0;
    virtual int setAtten(int channel, int value) = 0;
    virtual QList<int> getAttens() = 0;
    virtual int setPower(int channel, bool pow) = 0;
    virtual int setPower(bool pow) = 0;
    virtual QList<int> getStatus() = 0;
    virtual QPair<int, QStringList> getDeviceList() = 0;
};

#endif
