#ifndef USBCOMMBACKEND_H
#define USBCOMMBACKEND_H

#include <QPair>
#include <QString>
#include <QStringList>

// One USB transport to the instrument. usbConnection owns exactly one and
// never knows which implementation it holds.
class UsbCommBackend
{
public:
    virtual int setupBackend() = 0;
    virtual void teardownBackend() = 0;
    virtual int openDevice(const QString &resource) = 0;
    virtual int closeDevice() = 0;
    virtual int write(const char *data, int length) = 0;
    virtual int read(char *buffer, int maximum) = 0;
    virtual void getAttribute(const unsigned *attribute, int *value) = 0;
    virtual void setAttribute(const unsigned *attribute, int value) = 0;
    virtual void setReadBufferSize(int size) = 0;
    virtual QPair<int, QStringList> findDevices() = 0;
    virtual bool isAvailable() = 0;

    // Declared last so the eleven operations keep the first eleven slots of
    // the virtual table, in the order above.
    virtual ~UsbCommBackend() = default;
};

#endif
