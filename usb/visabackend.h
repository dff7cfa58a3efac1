#ifndef VISABACKEND_H
#define VISABACKEND_H

#include "usbcommbackend.h"
#include "visatypes.h"

#include <QLibrary>
#include <cstddef>

class QElapsedTimer;

// USB transport through a VISA library loaded at run time, so the program
// starts and works without one. Instruments are found by a VISA resource
// search and addressed by their resource strings.
class VisaBackend : public UsbCommBackend
{
public:
    VisaBackend();
    ~VisaBackend() override;
    VisaBackend(const VisaBackend &) = delete;
    VisaBackend &operator=(const VisaBackend &) = delete;

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

    // Status of the last viOpenDefaultRM or viOpen.
    ViStatus lastStatus() const { return status; }

private:
    bool loadLibrary();
    template <class Visit> void forEachEntryPoint(Visit visit);
    bool resolveEntryPoints();
    void clearEntryPoints();
    void dropRestOfReply(int maximum, const QElapsedTimer &clock);
    static bool endsRead(ViStatus result);
    bool fetchAttribute(ViAttr attribute, void *value, std::size_t size);

    ViSession resourceManager = 0;
    ViSession instrument = 0;
    ViStatus status = VI_SUCCESS;
    QLibrary library;
    bool loaded = false;

    ViReadFn viRead = nullptr;
    ViWriteFn viWrite = nullptr;
    ViGetAttributeFn viGetAttribute = nullptr;
    ViSetAttributeFn viSetAttribute = nullptr;
    ViSetBufFn viSetBuf = nullptr;
    ViCloseFn viClose = nullptr;
    ViOpenFn viOpen = nullptr;
    ViFindNextFn viFindNext = nullptr;
    ViFindRsrcFn viFindRsrc = nullptr;
    ViOpenDefaultRMFn viOpenDefaultRM = nullptr;
};

#endif
