#ifndef SIMULATEDUSBTMCPORT_H
#define SIMULATEDUSBTMCPORT_H

#include "simulatedusbtmcdevice.h"
#include "usbtmcport.h"

#include <memory>
#include <vector>

// The machine side of a set of simulated USBTMC instruments: enumeration
// lists them in the order they were added, open() finds one by its path, and
// write()/read() are its bulk-OUT and bulk-IN transfers. The knobs below make
// the machine's own calls fail the way a driver can.
class SimulatedUsbTmcPort : public UsbTmcPort
{
public:
    static constexpr long errorInvalidParameter = 87;
    static constexpr long errorSharingViolation = 32;
    static constexpr long errorMoreData = 234;

    std::shared_ptr<SimulatedUsbTmcDevice> addDevice(const std::string &path,
                                                     const InstrumentModel::Config &config = {});
    // The device currently open through this port, or null.
    std::shared_ptr<SimulatedUsbTmcDevice> current() const { return opened; }

    // A non-zero code makes every such call fail with it until reset to 0.
    void setListError(long code) { listError = code; }
    void setCloseError(long code) { closeError = code; }
    void setWriteError(long code) { writeError = code; }
    void setReadError(long code) { readError = code; }
    void setDestroyFails(bool on) { destroyFails = on; }
    // Writes hand at most this many bytes to the device (0: no limit).
    void setWriteLimit(std::size_t bytes) { writeLimit = bytes; }
    // Applies the limit to read requests only, leaving commands whole.
    void setWriteLimitOnReadRequests(bool on) { limitReadRequestsOnly = on; }

    bool beginEnumeration() override;
    bool selectInterface(unsigned index) override;
    DetailSize queryDetailSize(unsigned long *required) override;
    bool queryDevicePath(unsigned long required, std::string *path) override;
    bool endEnumeration() override;

    bool open(const std::string &path) override;
    bool isOpen() const override { return opened != nullptr; }
    bool close() override;
    bool write(const std::uint8_t *data, std::size_t length, std::size_t *written) override;
    bool read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received) override;

    long lastError() const override { return error; }

private:
    struct Entry {
        std::string path;
        std::shared_ptr<SimulatedUsbTmcDevice> device;
    };

    bool fail(long code);

    std::vector<Entry> devices;
    std::vector<Entry> listed;
    bool listing = false;
    int selected = -1;
    std::shared_ptr<SimulatedUsbTmcDevice> opened;
    long error = 0;

    long listError = 0;
    long closeError = 0;
    long writeError = 0;
    long readError = 0;
    bool destroyFails = false;
    std::size_t writeLimit = 0;
    bool limitReadRequestsOnly = false;
};

#endif
