#ifndef USBTMCPORT_H
#define USBTMCPORT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The operating system's side of the raw USBTMC backend: finding USBTMC
// interfaces and moving whole bulk transfers to and from one of them. Plain
// C++ without Qt, so the Windows implementation builds with a bare
// cross-compiler. Framing, tags, pauses and diagnostics stay in WinUSBTMC.
//
// Every call that returns false leaves a Windows-style error code behind for
// lastError(); implementations on other systems report the codes below where
// the situation is the same, and their own codes otherwise.
class UsbTmcPort
{
public:
    static constexpr long errorFileNotFound = 2;
    static constexpr long errorInvalidHandle = 6;
    static constexpr long errorTimeout = 121;
    static constexpr long errorNoMoreItems = 0x103;
    static constexpr long errorCancelled = 1223;

    enum class DetailSize {
        Known,             // the usual first answer: the size is in *required
        UnexpectedSuccess, // the first query succeeded without a buffer
        Failed             // any other failure, code in lastError()
    };

    virtual ~UsbTmcPort() = default;

    // Enumeration is a walk over a snapshot of the attached USBTMC
    // interfaces: begin, then interface 0, 1, ... until selectInterface()
    // fails (errorNoMoreItems at the end of the list), then end.
    virtual bool beginEnumeration() = 0;
    virtual bool selectInterface(unsigned index) = 0;
    virtual DetailSize queryDetailSize(unsigned long *required) = 0;
    // Device path of the selected interface, as open() accepts it back.
    virtual bool queryDevicePath(unsigned long required, std::string *path) = 0;
    virtual bool endEnumeration() = 0;

    // One device at a time: open() releases a device still open first.
    // close() without an open device fails with errorInvalidHandle, as do
    // write() and read().
    virtual bool open(const std::string &path) = 0;
    virtual bool isOpen() const = 0;
    virtual bool close() = 0;
    // One bulk-OUT transfer; *written is the count the device accepted.
    virtual bool write(const std::uint8_t *data, std::size_t length, std::size_t *written) = 0;
    // One bulk-IN transfer of at most maximum bytes.
    virtual bool read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received) = 0;

    virtual long lastError() const = 0;

    // Asked by write() and read() on the calling thread: once it returns
    // true, a transfer in progress ends early and a new one is not started,
    // both failing with errorCancelled. A port that cannot end a transfer
    // early lets it run to its own time-out.
    void setStopCheck(std::function<bool()> check) { stopCheck = std::move(check); }

protected:
    bool stopRequested() const { return stopCheck && stopCheck(); }

private:
    std::function<bool()> stopCheck;
};

// The implementation for the system this program was built for.
std::unique_ptr<UsbTmcPort> createPlatformUsbTmcPort();

#endif
