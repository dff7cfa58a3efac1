// The raw USBTMC backend reading a reply: the bulk-IN transfer is whatever
// the device sends. The device side checks the read request it gets, and
// the caller's buffer is exactly as large as it says, so any byte written
// past it is caught.
#include "finding.h"
#include "usbtmcport.h"
#include "winusbtmc.h"

#include <QThread>
#include <cstdint>
#include <cstring>
#include <vector>

// The backend pauses 10 ms around every transfer for the sake of the real
// driver; here that would leave a minute of fuzzing with a few thousand inputs.
void QThread::msleep(unsigned long) {}

namespace
{

// One device whose bulk-IN transfer carries the bytes under test.
class ReplyPort : public UsbTmcPort
{
public:
    std::vector<std::uint8_t> reply;
    std::uint32_t requested = 0;
    bool requestSeen = false;

    bool beginEnumeration() override { return false; }
    bool selectInterface(unsigned) override { return false; }
    DetailSize queryDetailSize(unsigned long *) override { return DetailSize::Failed; }
    bool queryDevicePath(unsigned long, std::string *) override { return false; }
    bool endEnumeration() override { return true; }

    bool open(const std::string &) override { return opened = true; }
    bool isOpen() const override { return opened; }
    bool close() override { return !(opened = false); }

    bool write(const std::uint8_t *data, std::size_t length, std::size_t *written) override
    {
        // A read request: the bare header, tag and its complement, the maximum asked for.
        FUZZ_CHECK(length == 12 && data[0] == 2 && data[2] == std::uint8_t(~data[1]));
        FUZZ_CHECK(data[1] != 0 && data[8] == 0);
        std::memcpy(&requested, data + 4, 4);
        requestSeen = true;
        *written = length;
        return true;
    }

    // The bytes under test are the one transfer the device sends; after
    // them the endpoint stays silent until the driver gives up.
    bool read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received) override
    {
        FUZZ_CHECK(requestSeen && maximum >= requested);
        if (served) {
            error = errorTimeout;
            return false;
        }
        served = true;
        *received = std::min(maximum, reply.size());
        if (*received > 0)
            std::memcpy(buffer, reply.data(), *received);
        return true;
    }

    long lastError() const override { return error; }

private:
    bool opened = false;
    bool served = false;
    long error = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the caller's maximum; the panel itself asks for 255.
    const int maximum = data[0] == 0xff ? 255 : data[0];
    auto port = std::make_unique<ReplyPort>();
    ReplyPort *device = port.get();
    device->reply.assign(data + 1, data + size);

    WinUSBTMC backend(std::move(port));
    FUZZ_CHECK(backend.openDevice(QStringLiteral("fuzz")) == 0);
    std::vector<char> buffer(static_cast<std::size_t>(maximum));
    const int got = backend.read(buffer.data(), maximum);
    FUZZ_CHECK(got == -1 || (got >= 0 && got <= maximum));
    if (got > 0)
        FUZZ_CHECK(std::memcmp(buffer.data(), device->reply.data() + 12, std::size_t(got)) == 0);
    return 0;
}
