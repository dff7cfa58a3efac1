#ifndef WIN32USBTMCPORT_H
#define WIN32USBTMCPORT_H

#include "usbtmcport.h"

#include <vector>

// USBTMC interfaces as Windows exposes them: SetupAPI finds the interfaces of
// the USBTMC device-interface class, and the driver carries each WriteFile
// and ReadFile on the opened interface as one bulk transfer. Device paths are
// the interface paths in UTF-8.
class Win32UsbTmcPort : public UsbTmcPort
{
public:
    Win32UsbTmcPort();
    ~Win32UsbTmcPort() override;
    Win32UsbTmcPort(const Win32UsbTmcPort &) = delete;
    Win32UsbTmcPort &operator=(const Win32UsbTmcPort &) = delete;

    bool beginEnumeration() override;
    bool selectInterface(unsigned index) override;
    DetailSize queryDetailSize(unsigned long *required) override;
    bool queryDevicePath(unsigned long required, std::string *path) override;
    bool endEnumeration() override;

    bool open(const std::string &path) override;
    bool isOpen() const override;
    bool close() override;
    bool write(const std::uint8_t *data, std::size_t length, std::size_t *written) override;
    bool read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received) override;

    long lastError() const override;

private:
    bool failWithSystemError();

    // HDEVINFO and HANDLE, kept as void* so this header needs no windows.h.
    void *deviceList;
    void *device;
    // SP_DEVICE_INTERFACE_DATA of the selected interface.
    std::vector<unsigned char> interfaceData;
    bool haveInterface = false;
    long error = 0;
};

#endif
