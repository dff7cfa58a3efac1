#ifndef WINUSBTMC_H
#define WINUSBTMC_H

#include "usbcommbackend.h"
#include "usbtmcport.h"

#include <QtGlobal>
#include <memory>
#include <vector>

class QDeadlineTimer;

// The raw USBTMC backend, used when no VISA library can be loaded: frames
// every command as a DEV_DEP_MSG_OUT message and every read as a
// REQUEST_DEV_DEP_MSG_IN followed by the bulk-IN transfer that answers it, on
// a USBTMC interface reached through a UsbTmcPort. Once the worker is asked
// to stop (workerstop.h), the port's transfers fail and the device listing
// ends before the next interface.
class WinUSBTMC : public UsbCommBackend
{
public:
    WinUSBTMC();
    explicit WinUSBTMC(std::unique_ptr<UsbTmcPort> port);
    ~WinUSBTMC() override;

    int setupBackend() override;
    void teardownBackend() override;
    int openDevice(const QString &resource) override;
    int closeDevice() override;
    int write(const char *data, int length) override;
    int read(char *buffer, int maximum) override;
    void getAttribute(const unsigned *attribute, int *value) override;
    void setAttribute(const unsigned *attribute, int value) override;
    void setReadBufferSize(int size) override;
    QPair<int, QStringList> findDevices() override;
    bool isAvailable() override;

    // Tag the next bulk-OUT message will carry.
    quint8 nextTag() const { return tag; }

private:
    quint8 takeTag();
    bool requestReply(quint8 requestTag, quint32 maximum);
    bool receiveAnswer(quint8 requestTag, const QDeadlineTimer &deadline,
                       std::vector<quint8> &reply, std::size_t *received);
    void interrogate(QPair<int, QStringList> &found);
    bool isOurInstrument();

    std::unique_ptr<UsbTmcPort> port;
    quint8 tag = 1;
};

#endif
