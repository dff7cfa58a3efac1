#ifndef HARDWAREABSTRACTION_H
#define HARDWAREABSTRACTION_H

#include "moduleinfo.h"

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

    // Results, unless a line says otherwise: 0 done, -1 not open. "Sent" means
    // handed to the transport; write commands never read a reply, so 0 does
    // not mean the instrument took the value. Queries return -1 / -1.0 / an
    // empty list or string both when not open and on a read error.

    // Opens an instrument that a listing found. 0 open; -10 no listing has
    // run yet; -1 the transport could not be set up; -2 the device did not
    // open (the transport is torn down again).
    virtual int openConnection(QString target) = 0;
    // Closes the instrument and the transport. Always 0.
    virtual int closeConnection() = 0;
    // Always true: nothing asks the instrument.
    virtual bool isAlive() = 0;
    virtual int setTime(float time) = 0;
    // The instrument's clock; -1.0 also when its reply is not a number.
    virtual float getTime() = 0;
    // Factory gate bias. No range check: the values go out as given.
    virtual int oneGateVoltage(int channel, int device, double voltage) = 0;
    virtual int oneGateVoltageIndex(int index, double voltage) = 0;
    // -2 for a gate outside channels 1-4 devices 0-4 and channel 5 devices 0-1.
    virtual int biasGateVoltage(int channel, int device) = 0;
    virtual int biasGateVoltageIndex(int index) = 0;
    virtual int enterFactoryMode() = 0;
    virtual int saveGate() = 0;
    // Raw traffic, not checked against the open state. Bytes written (the
    // transport's count), negative when nothing could be written or no
    // listing has run yet.
    virtual int sendVISACommand(QString command) = 0;
    virtual int sendVISACommandBytes(QByteArray command) = 0;
    virtual QList<float> getStoredGateVoltages() = 0;
    // One reply: (length, bytes); the length is negative on a failed read or
    // when no listing has run yet. The reply is not trimmed.
    virtual QPair<int, QByteArray> readVISAResponseByte() = 0;
    virtual QPair<int, QString> readVISAResponseString() = 0;
    // VISA attributes, passed to the transport unchecked; the raw USBTMC
    // transport ignores them, and so does every call before a listing.
    virtual void setReadBufferSize(int size) = 0;
    virtual void getAttribute(const unsigned *attribute, int *value) = 0;
    virtual void setAttribute(const unsigned *attribute, int value) = 0;
    // List queries: one entry per comma-separated field, 0 for a field that
    // is not a number.
    virtual QList<float> getGateVoltages() = 0;
    virtual QList<int> getCurrents() = 0;
    virtual QList<float> getTemps() = 0;
    // 0 when the reply is not a number.
    virtual int getBoardId() = 0;
    virtual int getSerialNumber() = 0;
    // The reply text unchanged. The argument selects nothing on USB
    // instruments; it is kept so other transports can address a sub-module's
    // firmware.
    virtual QString getFirmVer(int module) = 0;
    // "V2.10.3" gives 2, 10, 3.
    virtual QList<int> getFirmVerNumbers() = 0;
    virtual int setAtten(int channel, int value) = 0;
    virtual QList<int> getAttens() = 0;
    // -2 for a channel outside 1-5. The instrument has no per-channel power
    // command, so the global one is sent.
    virtual int setPower(int channel, bool pow) = 0;
    virtual int setPower(bool pow) = 0;
    virtual QList<int> getStatus() = 0;
    // Lists the instruments that open, closing each again: (0, names), also
    // when none is found; (-1, empty) the transport could not be set up;
    // (-4, empty) the listing failed. Leaves no instrument open. Once the
    // worker is asked to stop (workerstop.h) it ends before the next
    // instrument, with the ones found so far.
    virtual QPair<int, QStringList> getDeviceList() = 0;
    // The instruments the transport lists, none of them opened or asked
    // anything: results as getDeviceList. Leaves no instrument open.
    virtual QPair<int, QStringList> findDeviceNames() = 0;
    // Asks the open instrument afresh who it is and which modules it holds:
    // the instrument first, then its modules in the order found. Empty when
    // no instrument is open; cut short once the worker is asked to stop.
    virtual QList<ModuleInfo> inventory() = 0;
};

#endif
