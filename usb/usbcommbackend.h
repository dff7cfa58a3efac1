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
    // Prepares the transport (VISA: opens the default resource manager).
    // 0 ready; negative when the transport cannot be used now.
    virtual int setupBackend() = 0;
    // Undoes setupBackend, closing any device still open. Safe to repeat.
    virtual void teardownBackend() = 0;
    // Opens one instrument by the name findDevices listed (VISA resource
    // string or OS device path). 0 opened; -1 failed, nothing left open.
    virtual int openDevice(const QString &resource) = 0;
    // 0 closed; -1 failed (the device counts as closed all the same).
    virtual int closeDevice() = 0;
    // Sends one whole command. Bytes accepted (>= 0; the raw USBTMC backend
    // counts its header and alignment too); negative on failure.
    virtual int write(const char *data, int length) = 0;
    // Reads one reply into buffer. Payload bytes placed (0..maximum, never
    // more); -1 on failure or timeout.
    virtual int read(char *buffer, int maximum) = 0;
    // VISA attributes; the raw USBTMC backend ignores all three calls.
    virtual void getAttribute(const unsigned *attribute, int *value) = 0;
    virtual void setAttribute(const unsigned *attribute, int value) = 0;
    virtual void setReadBufferSize(int size) = 0;
    // Lists the instruments of ours that are attached: (count, names) with
    // count >= 0, or (negative, empty) when the listing itself failed.
    virtual QPair<int, QStringList> findDevices() = 0;
    // Whether this transport can work on this machine at all (VISA: the
    // library was loaded and has every entry point). Raw USBTMC: always.
    virtual bool isAvailable() = 0;

    // Declared last so the eleven operations keep the first eleven slots of
    // the virtual table, in the order above.
    virtual ~UsbCommBackend() = default;
};

#endif
