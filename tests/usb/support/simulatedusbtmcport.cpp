#include "simulatedusbtmcport.h"

#include <algorithm>
#include <cstring>

namespace
{

// What the interface detail structure of a wide-character path takes.
unsigned long detailSizeFor(const std::string &path)
{
    return 4 + 2 * (path.size() + 1);
}

} // namespace

std::shared_ptr<SimulatedUsbTmcDevice>
SimulatedUsbTmcPort::addDevice(const std::string &path, const InstrumentModel::Config &config)
{
    auto device = std::make_shared<SimulatedUsbTmcDevice>(config);
    devices.push_back(Entry{path, device});
    return device;
}

bool SimulatedUsbTmcPort::fail(long code)
{
    error = code;
    return false;
}

bool SimulatedUsbTmcPort::beginEnumeration()
{
    if (listError)
        return fail(listError);
    listed = devices;
    listing = true;
    selected = -1;
    return true;
}

bool SimulatedUsbTmcPort::selectInterface(unsigned index)
{
    selected = -1;
    if (!listing)
        return fail(errorInvalidHandle);
    if (index >= listed.size())
        return fail(errorNoMoreItems);
    selected = int(index);
    return true;
}

UsbTmcPort::DetailSize SimulatedUsbTmcPort::queryDetailSize(unsigned long *required)
{
    if (selected < 0) {
        fail(errorInvalidParameter);
        return DetailSize::Failed;
    }
    const Entry &entry = listed[std::size_t(selected)];
    switch (entry.device->listing()) {
    case SimulatedUsbTmcDevice::ListingFault::DetailSizeSucceeds:
        return DetailSize::UnexpectedSuccess;
    case SimulatedUsbTmcDevice::ListingFault::DetailSizeFails:
        fail(errorInvalidParameter);
        return DetailSize::Failed;
    default:
        break;
    }
    *required = detailSizeFor(entry.path);
    error = 0x7A;
    return DetailSize::Known;
}

bool SimulatedUsbTmcPort::queryDevicePath(unsigned long required, std::string *path)
{
    if (selected < 0)
        return fail(errorInvalidParameter);
    const Entry &entry = listed[std::size_t(selected)];
    if (entry.device->listing() == SimulatedUsbTmcDevice::ListingFault::DetailPathFails)
        return fail(errorInvalidParameter);
    if (required < detailSizeFor(entry.path))
        return fail(0x7A);
    *path = entry.path;
    return true;
}

bool SimulatedUsbTmcPort::endEnumeration()
{
    listing = false;
    listed.clear();
    selected = -1;
    if (destroyFails)
        return fail(errorInvalidHandle);
    return true;
}

bool SimulatedUsbTmcPort::open(const std::string &path)
{
    if (opened)
        close();
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&path](const Entry &entry) { return entry.path == path; });
    if (found == devices.end())
        return fail(errorFileNotFound);
    if (found->device->openFailure())
        return fail(found->device->openFailure());
    // Devices are opened without sharing.
    if (found->device->isOpen())
        return fail(errorSharingViolation);
    found->device->attach();
    opened = found->device;
    return true;
}

bool SimulatedUsbTmcPort::close()
{
    if (!opened)
        return fail(errorInvalidHandle);
    opened->detach();
    opened.reset();
    if (closeError)
        return fail(closeError);
    return true;
}

bool SimulatedUsbTmcPort::write(const std::uint8_t *data, std::size_t length, std::size_t *written)
{
    *written = 0;
    if (!opened)
        return fail(errorInvalidHandle);
    if (writeError)
        return fail(writeError);
    std::size_t accepted = length;
    const bool readRequest = length > 0 && data[0] == 2;
    if (writeLimit && (!limitReadRequestsOnly || readRequest))
        accepted = std::min(length, writeLimit);
    opened->bulkOut(QByteArray(reinterpret_cast<const char *>(data), int(accepted)));
    *written = accepted;
    return true;
}

bool SimulatedUsbTmcPort::read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received)
{
    *received = 0;
    if (!opened)
        return fail(errorInvalidHandle);
    if (readError)
        return fail(readError);
    const std::optional<QByteArray> transfer = opened->bulkIn();
    if (!transfer)
        return fail(errorTimeout);
    // A transfer larger than the host's buffer is a babble error, not a cut.
    if (std::size_t(transfer->size()) > maximum)
        return fail(errorMoreData);
    std::memcpy(buffer, transfer->constData(), std::size_t(transfer->size()));
    *received = std::size_t(transfer->size());
    return true;
}
