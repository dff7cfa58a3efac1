#include "libusbtmcport.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <libusb.h>
#include <memory>

namespace
{

constexpr std::uint8_t classApplicationSpecific = 0xFE;
constexpr std::uint8_t subclassUsbTmc = 0x03;
constexpr long errorBufferTooSmall = 0x7A;

struct Address {
    unsigned vendor = 0;
    unsigned product = 0;
    unsigned bus = 0;
    unsigned device = 0;
    unsigned interface = 0;
};

std::string formatPath(const Address &a)
{
    char text[64];
    std::snprintf(text, sizeof text, "usb:%04X:%04X:%u:%u:%u", a.vendor, a.product, a.bus, a.device,
                  a.interface);
    return text;
}

bool parsePath(const std::string &path, Address *a)
{
    int consumed = 0;
    const int fields = std::sscanf(path.c_str(), "usb:%4x:%4x:%u:%u:%u%n", &a->vendor, &a->product,
                                   &a->bus, &a->device, &a->interface, &consumed);
    return fields == 5 && std::size_t(consumed) == path.size();
}

bool isUsbTmc(const libusb_interface_descriptor &alt)
{
    return alt.bInterfaceClass == classApplicationSpecific &&
           alt.bInterfaceSubClass == subclassUsbTmc;
}

// The devices libusb sees, with the references it holds, for one scope.
class DeviceList
{
public:
    explicit DeviceList(libusb_context *context) : count(libusb_get_device_list(context, &devices))
    {
    }
    ~DeviceList()
    {
        if (devices)
            libusb_free_device_list(devices, 1);
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    // The number of devices, or libusb's (negative) error.
    ssize_t size() const { return count; }
    libusb_device *at(ssize_t index) const { return devices[index]; }

private:
    libusb_device **devices = nullptr;
    ssize_t count;
};

struct ConfigFree {
    void operator()(libusb_config_descriptor *config) const
    {
        libusb_free_config_descriptor(config);
    }
};
using ConfigDescriptor = std::unique_ptr<libusb_config_descriptor, ConfigFree>;

// The device's active configuration; null when it cannot be read.
ConfigDescriptor activeConfig(libusb_device *device)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return nullptr;
    return ConfigDescriptor(config);
}

bool sameAddress(libusb_device *device, const Address &wanted)
{
    libusb_device_descriptor descriptor;
    return libusb_get_device_descriptor(device, &descriptor) == 0 &&
           descriptor.idVendor == wanted.vendor && descriptor.idProduct == wanted.product &&
           libusb_get_bus_number(device) == wanted.bus &&
           libusb_get_device_address(device) == wanted.device;
}

libusb_device *findDevice(const DeviceList &devices, const Address &wanted)
{
    for (ssize_t i = 0; i < devices.size(); ++i) {
        if (sameAddress(devices.at(i), wanted))
            return devices.at(i);
    }
    return nullptr;
}

// USBTMC interfaces of one device, by interface number.
std::vector<unsigned> usbTmcInterfaces(libusb_device *device)
{
    std::vector<unsigned> numbers;
    const ConfigDescriptor config = activeConfig(device);
    if (!config)
        return numbers;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int s = 0; s < interface.num_altsetting; ++s) {
            if (isUsbTmc(interface.altsetting[s])) {
                numbers.push_back(interface.altsetting[s].bInterfaceNumber);
                break;
            }
        }
    }
    return numbers;
}

long codeOf(int libusbResult)
{
    if (libusbResult == LIBUSB_ERROR_TIMEOUT)
        return UsbTmcPort::errorTimeout;
    if (libusbResult == LIBUSB_ERROR_INTERRUPTED)
        return UsbTmcPort::errorCancelled;
    return -long(libusbResult);
}

// How often a transfer in progress asks the stop check.
constexpr int stopCheckMs = 50;

void markDone(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

// The outcome of a finished transfer, as libusb_bulk_transfer reports it.
int resultOf(const libusb_transfer &transfer)
{
    switch (transfer.status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return 0;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL:
        return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_OVERFLOW:
        return LIBUSB_ERROR_OVERFLOW;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return LIBUSB_ERROR_NO_DEVICE;
    default:
        return LIBUSB_ERROR_IO;
    }
}

} // namespace

std::unique_ptr<UsbTmcPort> createPlatformUsbTmcPort()
{
    return std::make_unique<LibUsbTmcPort>();
}

LibUsbTmcPort::LibUsbTmcPort(unsigned timeoutMs) : timeoutMs(timeoutMs) {}

LibUsbTmcPort::~LibUsbTmcPort()
{
    if (handle)
        close();
    if (context)
        libusb_exit(context);
}

bool LibUsbTmcPort::fail(long code)
{
    error = code;
    return false;
}

bool LibUsbTmcPort::ensureContext()
{
    if (context)
        return true;
    const int result = libusb_init(&context);
    if (result != 0) {
        context = nullptr;
        return fail(codeOf(result));
    }
    return true;
}

bool LibUsbTmcPort::beginEnumeration()
{
    snapshot.clear();
    selected = -1;
    if (!ensureContext())
        return false;
    const DeviceList devices(context);
    if (devices.size() < 0)
        return fail(codeOf(int(devices.size())));
    for (ssize_t i = 0; i < devices.size(); ++i) {
        libusb_device *device = devices.at(i);
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
            descriptor.idVendor != instrumentVendorId)
            continue;
        for (unsigned number : usbTmcInterfaces(device)) {
            Address a;
            a.vendor = descriptor.idVendor;
            a.product = descriptor.idProduct;
            a.bus = libusb_get_bus_number(device);
            a.device = libusb_get_device_address(device);
            a.interface = number;
            snapshot.push_back(formatPath(a));
        }
    }
    return true;
}

bool LibUsbTmcPort::selectInterface(unsigned index)
{
    if (index >= snapshot.size()) {
        selected = -1;
        return fail(errorNoMoreItems);
    }
    selected = int(index);
    return true;
}

UsbTmcPort::DetailSize LibUsbTmcPort::queryDetailSize(unsigned long *required)
{
    if (selected < 0) {
        fail(errorInvalidHandle);
        return DetailSize::Failed;
    }
    *required = snapshot[std::size_t(selected)].size() + 1;
    error = errorBufferTooSmall;
    return DetailSize::Known;
}

bool LibUsbTmcPort::queryDevicePath(unsigned long required, std::string *path)
{
    if (selected < 0)
        return fail(errorInvalidHandle);
    const std::string &found = snapshot[std::size_t(selected)];
    if (required < found.size() + 1)
        return fail(errorBufferTooSmall);
    *path = found;
    return true;
}

bool LibUsbTmcPort::endEnumeration()
{
    snapshot.clear();
    selected = -1;
    return true;
}

// The bulk endpoints of one USBTMC interface.
struct LibUsbTmcPort::Endpoints {
    unsigned char out = 0;
    unsigned char in = 0;
    std::size_t packetSizeIn = 0;

    bool complete() const { return out && in; }
};

LibUsbTmcPort::Endpoints LibUsbTmcPort::bulkEndpoints(libusb_device *device,
                                                      unsigned interfaceNumber)
{
    Endpoints found;
    const ConfigDescriptor config = activeConfig(device);
    for (int i = 0; config && i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        if (interface.num_altsetting < 1 ||
            interface.altsetting[0].bInterfaceNumber != interfaceNumber ||
            !isUsbTmc(interface.altsetting[0]))
            continue;
        const libusb_interface_descriptor &alt = interface.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                found.in = ep.bEndpointAddress;
                found.packetSizeIn = ep.wMaxPacketSize;
            } else {
                found.out = ep.bEndpointAddress;
            }
        }
    }
    return found;
}

bool LibUsbTmcPort::open(const std::string &path)
{
    if (handle)
        close();
    Address wanted;
    if (!parsePath(path, &wanted))
        return fail(errorFileNotFound);
    if (!ensureContext())
        return false;
    const DeviceList devices(context);
    if (devices.size() < 0)
        return fail(codeOf(int(devices.size())));
    libusb_device *device = findDevice(devices, wanted);
    const Endpoints endpoints = device ? bulkEndpoints(device, wanted.interface) : Endpoints();
    if (!endpoints.complete())
        return fail(errorFileNotFound);
    // The opened handle keeps its own reference to the device, so the list
    // may go once this returns.
    return claim(device, wanted.interface, endpoints);
}

bool LibUsbTmcPort::claim(libusb_device *device, unsigned interfaceNumber,
                          const Endpoints &endpoints)
{
    libusb_device_handle *opened = nullptr;
    const int result = libusb_open(device, &opened);
    if (result != 0)
        return fail(codeOf(result));
    // The kernel's usbtmc driver holds the interface on Linux; it gets it
    // back when the interface is released.
    libusb_set_auto_detach_kernel_driver(opened, 1);
    const int claimed = libusb_claim_interface(opened, int(interfaceNumber));
    if (claimed != 0) {
        libusb_close(opened);
        return fail(codeOf(claimed));
    }
    handle = opened;
    claimedInterface = int(interfaceNumber);
    endpointOut = endpoints.out;
    endpointIn = endpoints.in;
    packetSizeIn = endpoints.packetSizeIn > 0 ? endpoints.packetSizeIn : 64;
    return true;
}

bool LibUsbTmcPort::isOpen() const
{
    return handle != nullptr;
}

bool LibUsbTmcPort::close()
{
    if (!handle)
        return fail(errorInvalidHandle);
    const int released = libusb_release_interface(handle, claimedInterface);
    libusb_close(handle);
    handle = nullptr;
    claimedInterface = -1;
    // A device unplugged while open cannot release; it is closed all the same.
    if (released != 0 && released != LIBUSB_ERROR_NO_DEVICE)
        return fail(codeOf(released));
    return true;
}

bool LibUsbTmcPort::write(const std::uint8_t *data, std::size_t length, std::size_t *written)
{
    *written = 0;
    if (!handle)
        return fail(errorInvalidHandle);
    if (length > std::size_t(INT_MAX))
        return fail(-long(LIBUSB_ERROR_INVALID_PARAM));
    int transferred = 0;
    const int result =
        bulkTransfer(endpointOut, const_cast<std::uint8_t *>(data), int(length), &transferred);
    *written = std::size_t(transferred);
    if (result != 0)
        return fail(codeOf(result));
    return true;
}

bool LibUsbTmcPort::read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received)
{
    *received = 0;
    if (!handle)
        return fail(errorInvalidHandle);
    // Whole packets: a device whose last packet fills wMaxPacketSize would
    // otherwise overflow a request that ends mid-packet.
    const std::size_t packets =
        std::max<std::size_t>(1, (maximum + packetSizeIn - 1) / packetSizeIn);
    const std::size_t request = packets * packetSizeIn;
    if (request > std::size_t(INT_MAX))
        return fail(-long(LIBUSB_ERROR_INVALID_PARAM));
    std::vector<std::uint8_t> incoming(request);
    int transferred = 0;
    const int result = bulkTransfer(endpointIn, incoming.data(), int(request), &transferred);
    if (result != 0)
        return fail(codeOf(result));
    *received = std::min(std::size_t(transferred), maximum);
    std::memcpy(buffer, incoming.data(), *received);
    return true;
}

// As libusb_bulk_transfer, but the wait asks the stop check between slices
// and cancels the transfer when told to (LIBUSB_ERROR_INTERRUPTED).
int LibUsbTmcPort::bulkTransfer(unsigned char endpoint, std::uint8_t *data, int length,
                                int *transferred)
{
    *transferred = 0;
    if (stopRequested())
        return LIBUSB_ERROR_INTERRUPTED;
    libusb_transfer *transfer = libusb_alloc_transfer(0);
    if (!transfer)
        return LIBUSB_ERROR_NO_MEM;
    int done = 0;
    libusb_fill_bulk_transfer(transfer, handle, endpoint, data, length, markDone, &done, timeoutMs);
    int result = libusb_submit_transfer(transfer);
    bool cancelled = false;
    while (result == 0 && !done) {
        timeval slice = {0, long(stopCheckMs) * 1000};
        const int handled = libusb_handle_events_timeout_completed(context, &slice, &done);
        // A failed event wait cancels too, as libusb's own synchronous call does.
        if (!cancelled && !done &&
            (stopRequested() || (handled < 0 && handled != LIBUSB_ERROR_INTERRUPTED)))
            cancelled = libusb_cancel_transfer(transfer) == 0;
    }
    if (result == 0) {
        *transferred = transfer->actual_length;
        result = transfer->status == LIBUSB_TRANSFER_CANCELLED && stopRequested()
                     ? LIBUSB_ERROR_INTERRUPTED
                     : resultOf(*transfer);
    }
    libusb_free_transfer(transfer);
    return result;
}

long LibUsbTmcPort::lastError() const
{
    return error;
}
