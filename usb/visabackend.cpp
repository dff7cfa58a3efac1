#include "visabackend.h"

#include "usblog.h"

#include <QElapsedTimer>
#include <cstring>
#include <type_traits>

namespace
{

// "visa32" is the library's name on Windows; VISA installations on other
// systems ship it as "visa".
const char *const libraryNames[] = {"visa32", "visa"};

const char resourceExpression[] = "USB0::0x2012::?*INSTR";

QString descriptorText(const ViChar *descriptor)
{
    return QString::fromLatin1(descriptor, int(qstrnlen(descriptor, VI_FIND_BUFLEN)));
}

} // namespace

VisaBackend::VisaBackend()
{
    if (!loadLibrary()) {
        qCDebug(lcUsb, "Could not load Visa32 library");
        clearEntryPoints();
        return;
    }
    qCDebug(lcUsb, "Visa32 library loaded");
    loaded = resolveEntryPoints();
    if (!loaded) {
        clearEntryPoints();
        library.unload();
    }
}

VisaBackend::~VisaBackend() = default;

bool VisaBackend::loadLibrary()
{
    for (const char *name : libraryNames) {
        library.setFileName(name);
        if (library.load())
            return true;
    }
    return false;
}

// Every entry point the backend calls, each named once: resolving,
// checking and forgetting them all go through this list.
template <class Visit> void VisaBackend::forEachEntryPoint(Visit visit)
{
    visit("viRead", viRead);
    visit("viWrite", viWrite);
    visit("viGetAttribute", viGetAttribute);
    visit("viSetAttribute", viSetAttribute);
    visit("viSetBuf", viSetBuf);
    visit("viClose", viClose);
    visit("viOpen", viOpen);
    visit("viFindNext", viFindNext);
    visit("viFindRsrc", viFindRsrc);
    visit("viOpenDefaultRM", viOpenDefaultRM);
}

bool VisaBackend::resolveEntryPoints()
{
    bool complete = true;
    forEachEntryPoint([this, &complete](const char *name, auto &entry) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(library.resolve(name));
        if (!entry) {
            qCDebug(lcUsb, "Visa32 library lacks entry point %s; not used", name);
            complete = false;
        }
    });
    return complete;
}

void VisaBackend::clearEntryPoints()
{
    forEachEntryPoint([](const char *, auto &entry) { entry = nullptr; });
}

int VisaBackend::setupBackend()
{
    if (!loaded)
        return -1;
    // A use of the USB path that ended without a teardown would otherwise
    // leave its resource manager, and any instrument session under it, open
    // for good.
    if (resourceManager != 0)
        teardownBackend();
    status = viOpenDefaultRM(&resourceManager);
    if (status != VI_SUCCESS) {
        viClose(resourceManager);
        resourceManager = 0;
        return -1;
    }
    return 0;
}

void VisaBackend::teardownBackend()
{
    if (!loaded)
        return;
    // Closing the resource manager also closes every session opened through it.
    viClose(resourceManager);
    resourceManager = 0;
    instrument = 0;
}

int VisaBackend::openDevice(const QString &resource)
{
    if (!loaded)
        return -1;
    const QByteArray name = resource.toLatin1();
    status = viOpen(resourceManager, name.constData(), VI_NO_LOCK, 0, &instrument);
    if (status != VI_SUCCESS) {
        viClose(instrument);
        instrument = 0;
        return -1;
    }
    return 0;
}

int VisaBackend::closeDevice()
{
    if (!loaded)
        return -1;
    viClose(instrument);
    instrument = 0;
    return 0;
}

int VisaBackend::write(const char *data, int length)
{
    if (!loaded || !data || length < 0)
        return -1;
    ViUInt32 count = 0;
    const ViStatus result =
        viWrite(instrument, reinterpret_cast<const ViByte *>(data), ViUInt32(length), &count);
    // A warning (for example an unconfirmed end of message) counts as a failed write.
    if (result != VI_SUCCESS)
        return -1;
    return count > ViUInt32(length) ? length : int(count);
}

int VisaBackend::read(char *buffer, int maximum)
{
    if (!loaded || !buffer || maximum < 0)
        return -1;
    QElapsedTimer clock;
    clock.start();
    ViUInt32 count = 0;
    const ViStatus result =
        viRead(instrument, reinterpret_cast<ViByte *>(buffer), ViUInt32(maximum), &count);
    if (!endsRead(result) && result != VI_SUCCESS_MAX_CNT)
        return -1;
    if (count > ViUInt32(maximum)) {
        qCDebug(lcUsb, "VISA reported %u bytes for a read of at most %d; cut", count, maximum);
        count = ViUInt32(maximum);
    }
    if (result == VI_SUCCESS_MAX_CNT)
        dropRestOfReply(maximum, clock);
    return int(count);
}

// The rest of a reply longer than the caller's buffer would stay in the
// library and be read as the answer to the next query. It is read here,
// within the time-out of the read it belongs to, and dropped.
void VisaBackend::dropRestOfReply(int maximum, const QElapsedTimer &clock)
{
    ViUInt32 timeoutMs = VI_TMO_INFINITE;
    const bool timed = fetchAttribute(VI_ATTR_TMO_VALUE, &timeoutMs, sizeof timeoutMs) &&
                       timeoutMs != VI_TMO_INFINITE;
    bool shortened = false;
    qint64 dropped = 0;
    ViStatus result = VI_SUCCESS_MAX_CNT;
    while (result == VI_SUCCESS_MAX_CNT) {
        if (timed) {
            const qint64 left = qint64(timeoutMs) - clock.elapsed();
            if (left <= 0)
                break;
            viSetAttribute(instrument, VI_ATTR_TMO_VALUE, ViAttrState(left));
            shortened = true;
        }
        ViByte scratch[256];
        ViUInt32 count = 0;
        result = viRead(instrument, scratch, ViUInt32(sizeof scratch), &count);
        dropped += qMin<ViUInt32>(count, ViUInt32(sizeof scratch));
    }
    if (shortened)
        viSetAttribute(instrument, VI_ATTR_TMO_VALUE, ViAttrState(timeoutMs));
    qCDebug(lcUsb, "Reply longer than %d bytes: %lld bytes dropped", maximum, dropped);
    if (!endsRead(result))
        qCDebug(lcUsb, "End of the long reply not reached (0x%X)", unsigned(result));
}

bool VisaBackend::endsRead(ViStatus result)
{
    return result == VI_SUCCESS || result == VI_SUCCESS_TERM_CHAR;
}

// Some attributes are wider than the caller's value (64-bit values, resource
// names of up to 256 characters): VISA writes into a buffer that holds any
// of them, and the caller gets the first `size` bytes.
bool VisaBackend::fetchAttribute(ViAttr attribute, void *value, std::size_t size)
{
    alignas(8) char scratch[VI_FIND_BUFLEN] = {};
    if (viGetAttribute(instrument, attribute, scratch) < VI_SUCCESS)
        return false;
    std::memcpy(value, scratch, size);
    return true;
}

void VisaBackend::getAttribute(const unsigned *attribute, int *value)
{
    if (!loaded || !attribute || !value)
        return;
    fetchAttribute(*attribute, value, sizeof *value);
    qCDebug(lcUsb, "Attribute 0x%X = %d (0x%X)", *attribute, *value, unsigned(*value));
}

void VisaBackend::setAttribute(const unsigned *attribute, int value)
{
    if (!loaded || !attribute)
        return;
    viSetAttribute(instrument, *attribute, ViAttrState(ViUInt32(value)));
    qCDebug(lcUsb, "Attribute 0x%X set to %d (0x%X)", *attribute, value, unsigned(value));
}

void VisaBackend::setReadBufferSize(int size)
{
    if (!loaded)
        return;
    if (size < 0 || viSetBuf(instrument, VI_READ_BUF, ViUInt32(size)) != VI_SUCCESS)
        qCDebug(lcUsb, "Bad Read Buffer Set Size");
}

QPair<int, QStringList> VisaBackend::findDevices()
{
    QStringList resources;
    if (!loaded)
        return {0, resources};

    ViChar descriptor[VI_FIND_BUFLEN] = {};
    ViFindList findList = 0;
    ViUInt32 count = 0;
    const ViStatus result =
        viFindRsrc(resourceManager, resourceExpression, &findList, &count, descriptor);
    if (result == VI_ERROR_RSRC_NFOUND)
        return {0, resources};
    if (result != VI_SUCCESS)
        return {-1, resources};

    if (count > 0) {
        resources.append(descriptorText(descriptor));
        qCDebug(lcUsb, "Found %s", qPrintable(resources.first()));
    }
    for (ViUInt32 i = 1; i < count; ++i) {
        std::memset(descriptor, 0, sizeof descriptor);
        const ViStatus next = viFindNext(findList, descriptor);
        // A failed step leaves no new descriptor; listing the previous one
        // again would open the same instrument twice.
        if (next != VI_SUCCESS) {
            qCDebug(lcUsb, "viFindNext failed (0x%X) after %d of %u resources", unsigned(next),
                    int(resources.size()), count);
            break;
        }
        resources.append(descriptorText(descriptor));
    }
    viClose(findList);
    return {int(resources.size()), resources};
}

bool VisaBackend::isAvailable()
{
    return loaded;
}
