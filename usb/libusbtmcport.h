#ifndef LIBUSBTMCPORT_H
#define LIBUSBTMCPORT_H

#include "usbtmcport.h"

#include <vector>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

// USBTMC interfaces through libusb-1.0, for systems without a USBTMC driver
// that exposes the interface as a file. Device paths have the form
// "usb:VVVV:PPPP:BUS:ADDRESS:INTERFACE" (vendor and product id in hex, the
// rest in decimal). Only interfaces of the instrument maker's devices are
// listed: the backend opens each listed interface to ask who it is, which
// would take other instruments away from their own drivers and software.
// The kernel's usbtmc driver is detached while a device is open. Errors are
// libusb's codes with the sign dropped, or the shared codes of UsbTmcPort
// where the situation is the same.
class LibUsbTmcPort : public UsbTmcPort
{
public:
    // The instrument maker's USB vendor id.
    static constexpr std::uint16_t instrumentVendorId = 0x2012;
    // Bounded wait of every bulk transfer, unless the constructor is given
    // another; the stop check (setStopCheck) ends it sooner.
    static constexpr unsigned transferTimeoutMs = 5000;

    explicit LibUsbTmcPort(unsigned timeoutMs = transferTimeoutMs);
    ~LibUsbTmcPort() override;
    LibUsbTmcPort(const LibUsbTmcPort &) = delete;
    LibUsbTmcPort &operator=(const LibUsbTmcPort &) = delete;

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
    struct Endpoints;

    bool ensureContext();
    bool fail(long code);
    int bulkTransfer(unsigned char endpoint, std::uint8_t *data, int length, int *transferred);
    static Endpoints bulkEndpoints(libusb_device *device, unsigned interfaceNumber);
    // Opens the device and claims the interface; the port is open on success.
    bool claim(libusb_device *device, unsigned interfaceNumber, const Endpoints &endpoints);

    unsigned timeoutMs;
    libusb_context *context = nullptr;
    long error = 0;

    std::vector<std::string> snapshot;
    int selected = -1;

    libusb_device_handle *handle = nullptr;
    int claimedInterface = -1;
    unsigned char endpointOut = 0;
    unsigned char endpointIn = 0;
    std::size_t packetSizeIn = 64;
};

#endif
