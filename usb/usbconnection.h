#ifndef USBCONNECTION_H
#define USBCONNECTION_H

#include "moduleinfo.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class UsbCommBackend;

// The one route to a USB instrument: chooses and owns the transport backend,
// gates traffic on an open device, converts between command texts and bytes,
// and takes the inventory of the instrument's modules. Every call is
// synchronous. Once the worker is asked to stop (workerstop.h) every send and
// read fails at once, so the inventory and each exchange end at their next
// transfer; closing the device still works.
class usbConnection : public QObject
{
public:
    usbConnection();
    // Takes ownership of an already-made backend; without one it chooses as usual.
    explicit usbConnection(UsbCommBackend *backend);
    ~usbConnection() override;
    usbConnection(const usbConnection &) = delete;
    usbConnection &operator=(const usbConnection &) = delete;

    int setupVISA();
    void teardownVISA();
    QPair<int, QStringList> findDevices();
    int openDevice(const QString &target);
    int closeDevice();

    int sendCommand(const QString &command);
    int sendCommandBytes(const QByteArray &command);
    QPair<int, QString> readResponse();
    QPair<int, QByteArray> readResponseBytes();

    void identifyModules();
    void clearDeviceInfo();

    void getAttribute(const unsigned *attribute, int *value);
    void setAttribute(const unsigned *attribute, int value);
    void setReadBufferSize(int size);

    const UsbCommBackend *backend() const { return transport; }

    ModuleInfo deviceInfo;
    QList<ModuleInfo *> moduleList;

private:
    static UsbCommBackend *createBackend();
    bool mayTransfer() const;
    int readInto(char *buffer);
    bool identifyPort(int port, ModuleInfo *module);
    bool identifyLcd();
    void identifyFpga();
    // A query of the inventory: the command, then one read; empty on failure.
    bool query(const QByteArray &command, QString *reply, bool sendMustSucceed);

    UsbCommBackend *transport;
    bool deviceOpen = false;
};

#endif
