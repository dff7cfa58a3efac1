// GLib's headers come first: they use "signals" as a name, which Qt's
// headers turn into a keyword.
#include <umockdev.h>

#include "emulatedusbbus.h"

#include <QMutexLocker>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

namespace
{

constexpr quint8 endpointOut = 0x01;
constexpr quint8 endpointIn = 0x82;
// What the usbdevfs of a current kernel offers for a high-speed device.
constexpr quint32 capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                 USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                 USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
// Without a finished URB the reaper answers after this pause: the emulated
// node is a plain file that poll() always reports ready, so libusb asks again
// at once, and a wait for a slow reply would otherwise burn a core.
constexpr gulong emptyReapPauseUs = 1000;

void appendWord(QByteArray &out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

QByteArray hexWord(quint16 value)
{
    return QByteArray::number(value, 16).rightJustified(4, '0');
}

QByteArray bytesOf(const void *data, int size)
{
    return QByteArray(static_cast<const char *>(data), size);
}

// Owns one reference of umockdev's ioctl data.
struct DataRef {
    UMockdevIoctlData *data = nullptr;
    explicit DataRef(UMockdevIoctlData *d) : data(d) {}
    ~DataRef()
    {
        if (data)
            g_object_unref(data);
    }
    DataRef(const DataRef &) = delete;
    DataRef &operator=(const DataRef &) = delete;
    explicit operator bool() const { return data != nullptr; }
};

UMockdevIoctlData *resolve(UMockdevIoctlData *parent, std::size_t offset, std::size_t length)
{
    GError *error = nullptr;
    UMockdevIoctlData *child = umockdev_ioctl_data_resolve(parent, offset, length, &error);
    if (error)
        g_error_free(error);
    return child;
}

void put(UMockdevIoctlData *data, std::size_t offset, const void *value, int size)
{
    umockdev_ioctl_data_update(data, offset,
                               const_cast<guint8 *>(static_cast<const guint8 *>(value)), size);
}

} // namespace

EmulatedUsbDevice::EmulatedUsbDevice(const Identity &identity,
                                     const InstrumentModel::Config &config)
    : id(identity), ioctlHandler(umockdev_ioctl_base_new()), instrument(config)
{
    signalId = g_signal_connect(ioctlHandler, "handle-ioctl", G_CALLBACK(&onIoctl), this);
}

EmulatedUsbDevice::~EmulatedUsbDevice()
{
    g_signal_handler_disconnect(ioctlHandler, signalId);
    g_object_unref(ioctlHandler);
}

std::string EmulatedUsbDevice::path() const
{
    char text[40];
    std::snprintf(text, sizeof text, "usb:%04X:%04X:%d:%d:0", id.vendor, id.product, id.bus,
                  id.address);
    return text;
}

QString EmulatedUsbDevice::sysName() const
{
    return QStringLiteral("pci0000:00/0000:00:14.0/usb%1/%2").arg(id.bus).arg(id.port);
}

QString EmulatedUsbDevice::deviceNode() const
{
    return QStringLiteral("/dev/bus/usb/%1/%2")
        .arg(id.bus, 3, 10, QLatin1Char('0'))
        .arg(id.address, 3, 10, QLatin1Char('0'));
}

QByteArray EmulatedUsbDevice::descriptors() const
{
    QByteArray out;
    // Device: USB 2.0, class in the interface, 64-byte control endpoint.
    out.append("\x12\x01", 2);
    appendWord(out, 0x0200);
    out.append("\x00\x00\x00\x40", 4);
    appendWord(out, id.vendor);
    appendWord(out, id.product);
    appendWord(out, 0x0100);
    out.append("\x00\x00\x00\x01", 4);
    // Configuration 1 with one interface: USBTMC (FE/03), USB488 protocol.
    out.append("\x09\x02", 2);
    appendWord(out, 9 + 9 + 7 + 7);
    out.append("\x01\x01\x00\x80\x32", 5);
    out.append("\x09\x04\x00\x00\x02\xFE\x03\x01\x00", 9);
    for (const quint8 endpoint : {endpointOut, endpointIn}) {
        out.append("\x07\x05", 2);
        out.append(char(endpoint));
        out.append('\x02'); // bulk
        appendWord(out, quint16(id.packetSize));
        out.append('\x00');
    }
    return out;
}

void EmulatedUsbDevice::setReplyDelayMs(int ms)
{
    QMutexLocker lock(&mutex);
    replyDelayMs = ms;
}

void EmulatedUsbDevice::setReplyFault(SimulatedUsbTmcDevice::ReplyFault fault)
{
    QMutexLocker lock(&mutex);
    instrument.setReplyFault(fault);
}

void EmulatedUsbDevice::setFullPackets(bool on)
{
    QMutexLocker lock(&mutex);
    fullPackets = on;
}

void EmulatedUsbDevice::unplugDuringNextRead()
{
    QMutexLocker lock(&mutex);
    unplugAtRead = true;
}

QStringList EmulatedUsbDevice::violations() const
{
    QMutexLocker lock(&mutex);
    return usbViolations + instrument.violations();
}

QList<QByteArray> EmulatedUsbDevice::commands() const
{
    QMutexLocker lock(&mutex);
    return instrument.commands();
}

int EmulatedUsbDevice::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, void *self)
{
    static_cast<EmulatedUsbDevice *>(self)->handle(client);
    return TRUE;
}

void EmulatedUsbDevice::handle(UMockdevIoctlClient *client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    QMutexLocker lock(&mutex);
    ++ioctls;
    std::optional<int> error = answer(request, arg);
    if (!error) {
        lock.unlock();
        g_usleep(emptyReapPauseUs);
        error = EAGAIN;
    }
    umockdev_ioctl_client_complete(client, *error ? -1 : 0, *error);
}

std::optional<int> EmulatedUsbDevice::answer(unsigned long request, UMockdevIoctlData *arg)
{
    if (unplugged && request != USBDEVFS_REAPURBNDELAY)
        return ENODEV;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        DataRef value(resolve(arg, 0, sizeof capabilities));
        if (!value)
            return EFAULT;
        put(value.data, 0, &capabilities, sizeof capabilities);
        return 0;
    }
    case USBDEVFS_DISCONNECT_CLAIM:
        return claim(interfaceIn(arg, offsetof(usbdevfs_disconnect_claim, interface)));
    case USBDEVFS_CLAIMINTERFACE:
        return claim(interfaceIn(arg, 0));
    case USBDEVFS_RELEASEINTERFACE:
        return release(interfaceIn(arg, 0));
    case USBDEVFS_IOCTL:
        // Re-attaching a kernel driver at close: there is none to attach.
        return ENODATA;
    case USBDEVFS_SUBMITURB:
        return submit(arg);
    case USBDEVFS_REAPURBNDELAY:
        return reap(arg);
    case USBDEVFS_DISCARDURB:
        return discard(urbAddress(arg));
    default:
        return refuse(ENOTTY, QStringLiteral("unexpected ioctl 0x%1").arg(request, 0, 16));
    }
}

int EmulatedUsbDevice::refuse(int error, const QString &why)
{
    usbViolations << why;
    return error;
}

// The interface number at `offset` of the argument; ~0 when it is not readable.
unsigned EmulatedUsbDevice::interfaceIn(UMockdevIoctlData *arg, std::size_t offset)
{
    DataRef value(resolve(arg, 0, offset + sizeof(unsigned)));
    unsigned interface = ~0u;
    if (value)
        std::memcpy(&interface, value.data->data + offset, sizeof interface);
    return interface;
}

// The URB's address in the client, read before resolving turns the argument
// into a pointer of this process.
quint64 EmulatedUsbDevice::urbAddress(UMockdevIoctlData *arg)
{
    quint64 address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    return address;
}

int EmulatedUsbDevice::claim(unsigned interface)
{
    if (interface != 0)
        return refuse(EINVAL, QStringLiteral("claim of interface %1").arg(int(interface)));
    if (claimed)
        usbViolations << QStringLiteral("interface claimed twice");
    claimed = true;
    ++claimCount;
    // A new session: the tag sequence starts afresh.
    instrument.attach();
    return 0;
}

int EmulatedUsbDevice::release(unsigned interface)
{
    if (interface != 0 || !claimed)
        return refuse(EINVAL,
                      QStringLiteral("release of interface %1, not claimed").arg(int(interface)));
    claimed = false;
    ++releaseCount;
    instrument.detach();
    return 0;
}

int EmulatedUsbDevice::submit(UMockdevIoctlData *arg)
{
    const quint64 address = urbAddress(arg);
    DataRef urbData(resolve(arg, 0, sizeof(usbdevfs_urb)));
    if (!urbData)
        return refuse(EFAULT, QStringLiteral("URB not readable"));
    usbdevfs_urb urb;
    std::memcpy(&urb, urbData.data->data, sizeof urb);
    if (urb.type != USBDEVFS_URB_TYPE_BULK ||
        (urb.endpoint != endpointOut && urb.endpoint != endpointIn) || urb.buffer_length < 0)
        return refuse(EINVAL, QStringLiteral("URB of type %1 to endpoint 0x%2, %3 bytes")
                                  .arg(urb.type)
                                  .arg(urb.endpoint, 0, 16)
                                  .arg(urb.buffer_length));
    if (urb.endpoint == endpointIn) {
        holdIn(address, urb.buffer_length);
        return 0;
    }
    DataRef buffer(resolve(urbData.data, offsetof(usbdevfs_urb, buffer), urb.buffer_length));
    if (!buffer)
        return refuse(EFAULT, QStringLiteral("bulk-OUT buffer not readable"));
    instrument.bulkOut(bytesOf(buffer.data->data, urb.buffer_length));
    // A new message from the host ends whatever the device still had to say.
    leftover.clear();
    completed.push_back(Completion{address, 0, urb.buffer_length, {}});
    return 0;
}

// A bulk-IN URB waits until the device has something to say.
void EmulatedUsbDevice::holdIn(quint64 address, int length)
{
    if (heldIn)
        usbViolations << QStringLiteral("a second bulk-IN URB while one is pending");
    if (length % id.packetSize != 0)
        usbViolations << QStringLiteral("bulk-IN of %1 bytes, not whole %2-byte packets")
                             .arg(length)
                             .arg(id.packetSize);
    inLengths << length;
    heldIn = HeldIn{address, length, {}};
    heldIn->since.start();
    unplugged = unplugAtRead;
}

std::optional<EmulatedUsbDevice::Completion> EmulatedUsbDevice::nextCompletion()
{
    if (!completed.empty()) {
        Completion done = completed.front();
        completed.pop_front();
        return done;
    }
    if (!heldIn)
        return std::nullopt;
    if (unplugged) {
        const Completion cut{heldIn->urb, -ESHUTDOWN, 0, {}};
        heldIn.reset();
        return cut;
    }
    if (heldIn->since.elapsed() < replyDelayMs)
        return std::nullopt;
    QByteArray frame = leftover;
    leftover.clear();
    if (frame.isEmpty()) {
        const std::optional<QByteArray> reply = instrument.bulkIn();
        if (!reply)
            return std::nullopt; // nothing to send: the device NAKs on
        frame = *reply;
    }
    const Completion done = deliver(*heldIn, frame);
    heldIn.reset();
    return done;
}

// One bulk-IN transfer of `frame`: packets of the endpoint's size until a
// short one. A reply longer than the buffer stays for the next transfer when
// the buffer holds whole packets; a packet that does not fit in what is left
// of the buffer is the babble a host controller reports as an overflow.
EmulatedUsbDevice::Completion EmulatedUsbDevice::deliver(const HeldIn &held, QByteArray frame)
{
    if (fullPackets && frame.size() % id.packetSize != 0)
        frame.append(QByteArray(id.packetSize - frame.size() % id.packetSize, '\0'));
    if (frame.size() <= held.length)
        return Completion{held.urb, 0, int(frame.size()), frame};
    if (held.length % id.packetSize != 0) {
        const int fitting = held.length - held.length % id.packetSize;
        return Completion{held.urb, -EOVERFLOW, fitting, frame.left(fitting)};
    }
    leftover = frame.mid(held.length);
    return Completion{held.urb, 0, held.length, frame.left(held.length)};
}

std::optional<int> EmulatedUsbDevice::reap(UMockdevIoctlData *arg)
{
    const std::optional<Completion> done = nextCompletion();
    if (!done)
        return unplugged ? std::optional<int>(ENODEV) : std::nullopt;
    // The client's URB pointer goes where the reap argument points; the URB
    // itself is then reached through it.
    DataRef slot(resolve(arg, 0, sizeof(void *)));
    if (!slot)
        return refuse(EFAULT, QStringLiteral("reap argument not writable"));
    put(slot.data, 0, &done->urb, sizeof(void *));
    DataRef urb(resolve(slot.data, 0, sizeof(usbdevfs_urb)));
    if (!urb)
        return refuse(EFAULT, QStringLiteral("reaped URB not writable"));
    if (!done->data.isEmpty()) {
        DataRef buffer(resolve(urb.data, offsetof(usbdevfs_urb, buffer), done->data.size()));
        if (buffer)
            put(buffer.data, 0, done->data.constData(), done->data.size());
    }
    put(urb.data, offsetof(usbdevfs_urb, status), &done->status, sizeof done->status);
    put(urb.data, offsetof(usbdevfs_urb, actual_length), &done->actualLength,
        sizeof done->actualLength);
    return 0;
}

int EmulatedUsbDevice::discard(quint64 address)
{
    ++discardCount;
    if (!heldIn || heldIn->urb != address)
        return EINVAL;
    completed.push_back(Completion{address, -ENOENT, 0, {}});
    heldIn.reset();
    return 0;
}

EmulatedUsbBus::EmulatedUsbBus() : testbed(umockdev_testbed_new()) {}

EmulatedUsbBus::~EmulatedUsbBus()
{
    // The test bed stops its worker thread before the handlers go.
    g_object_unref(testbed);
    devices.clear();
}

EmulatedUsbDevice &EmulatedUsbBus::add(const EmulatedUsbDevice::Identity &identity,
                                       const InstrumentModel::Config &config)
{
    devices.push_back(std::make_unique<EmulatedUsbDevice>(identity, config));
    EmulatedUsbDevice &device = *devices.back();
    const QByteArray name = device.sysName().toUtf8();
    const QByteArray node = device.deviceNode().toUtf8();
    const QByteArray bus = QByteArray::number(identity.bus) + '\n';
    const QByteArray address = QByteArray::number(identity.address) + '\n';
    const QByteArray vendor = hexWord(identity.vendor) + '\n';
    const QByteArray product = hexWord(identity.product) + '\n';
    const QByteArray paddedBus = QByteArray::number(identity.bus).rightJustified(3, '0');
    const QByteArray paddedAddress = QByteArray::number(identity.address).rightJustified(3, '0');
    // usb_device nodes: major 189, one block of 128 minors per bus.
    const QByteArray majorMinor =
        "189:" + QByteArray::number((identity.bus - 1) * 128 + identity.address - 1);
    // Attribute files end in a line feed, as the kernel writes them.
    const char *attributes[] = {"busnum",
                                bus.constData(),
                                "devnum",
                                address.constData(),
                                "dev",
                                majorMinor.constData(),
                                "speed",
                                "480\n",
                                "bConfigurationValue",
                                "1\n",
                                "bNumConfigurations",
                                "1\n",
                                "bNumInterfaces",
                                " 1\n",
                                "idVendor",
                                vendor.constData(),
                                "idProduct",
                                product.constData(),
                                nullptr};
    const char *properties[] = {"DEVNAME",   node.constData(),
                                "DEVTYPE",   "usb_device",
                                "SUBSYSTEM", "usb",
                                "BUSNUM",    paddedBus.constData(),
                                "DEVNUM",    paddedAddress.constData(),
                                nullptr};
    gchar *syspath = umockdev_testbed_add_devicev(testbed, "usb", name.constData(), nullptr,
                                                  const_cast<gchar **>(attributes),
                                                  const_cast<gchar **>(properties));
    const QByteArray descriptors = device.descriptors();
    umockdev_testbed_set_attribute_binary(
        testbed, syspath, "descriptors",
        reinterpret_cast<guint8 *>(const_cast<char *>(descriptors.constData())),
        descriptors.size());
    g_free(syspath);
    createNode(device.deviceNode());

    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node.constData(), device.handler(), &error)) {
        failure = QStringLiteral("ioctl handler for %1 not attached: %2")
                      .arg(device.deviceNode(), QString::fromUtf8(error->message));
        g_error_free(error);
    }
    if (devices.size() == 1)
        checkRedirection(device);
    return device;
}

// umockdev records the node's numbers but leaves the node itself out; an
// empty file is all the preload library needs to pass its ioctls on.
void EmulatedUsbBus::createNode(const QString &node)
{
    gchar *root = umockdev_testbed_get_root_dir(testbed);
    const QByteArray file = QByteArray(root) + node.toUtf8();
    g_free(root);
    gchar *folder = g_path_get_dirname(file.constData());
    g_mkdir_with_parents(folder, 0755);
    g_free(folder);
    if (!g_file_test(file.constData(), G_FILE_TEST_EXISTS) &&
        !g_file_set_contents(file.constData(), "", 0, nullptr))
        failure = QStringLiteral("device node %1 not created").arg(QString::fromUtf8(file));
}

// Reads the device's vendor back through the path libusb will use; without
// the preload library this finds the machine's own /sys instead.
void EmulatedUsbBus::checkRedirection(const EmulatedUsbDevice &device)
{
    if (!failure.isEmpty())
        return;
    const QByteArray file = "/sys/bus/usb/devices/" + device.identity().port.toUtf8() + "/idVendor";
    gchar *content = nullptr;
    const bool read = g_file_get_contents(file.constData(), &content, nullptr, nullptr);
    const QByteArray vendor = read ? QByteArray(content).trimmed() : QByteArray();
    g_free(content);
    const QByteArray expected = hexWord(device.identity().vendor);
    if (vendor != expected)
        failure = QStringLiteral("%1 reads \"%2\", not \"%3\": umockdev's preload library is "
                                 "not active (LD_PRELOAD=%4)")
                      .arg(QString::fromUtf8(file), QString::fromUtf8(vendor),
                           QString::fromUtf8(expected), qEnvironmentVariable("LD_PRELOAD"));
}
