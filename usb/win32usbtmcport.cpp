#include "win32usbtmcport.h"

#include <algorithm>
#include <string>
#include <windows.h>

#include <setupapi.h>

namespace
{

// The device-interface class the USBTMC driver registers for each instrument.
const GUID usbTmcInterfaceClass = {
    0xA9FDBB24, 0x128A, 0x11D5, {0x99, 0x61, 0x00, 0x10, 0x83, 0x35, 0xE3, 0x61}};

std::wstring toWide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(std::size_t(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], length);
    return wide;
}

std::string toUtf8(const wchar_t *wide)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string utf8(std::size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(std::size_t(length - 1));
    return utf8;
}

SP_DEVICE_INTERFACE_DATA *asInterfaceData(std::vector<unsigned char> &bytes)
{
    return reinterpret_cast<SP_DEVICE_INTERFACE_DATA *>(bytes.data());
}

} // namespace

std::unique_ptr<UsbTmcPort> createPlatformUsbTmcPort()
{
    return std::make_unique<Win32UsbTmcPort>();
}

Win32UsbTmcPort::Win32UsbTmcPort()
    : deviceList(INVALID_HANDLE_VALUE), device(INVALID_HANDLE_VALUE),
      interfaceData(sizeof(SP_DEVICE_INTERFACE_DATA), 0)
{
}

Win32UsbTmcPort::~Win32UsbTmcPort()
{
    if (isOpen())
        close();
    if (deviceList != INVALID_HANDLE_VALUE)
        endEnumeration();
}

bool Win32UsbTmcPort::failWithSystemError()
{
    error = long(GetLastError());
    return false;
}

bool Win32UsbTmcPort::beginEnumeration()
{
    if (deviceList != INVALID_HANDLE_VALUE)
        endEnumeration();
    haveInterface = false;
    deviceList = SetupDiGetClassDevsW(&usbTmcInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (deviceList == INVALID_HANDLE_VALUE)
        return failWithSystemError();
    return true;
}

bool Win32UsbTmcPort::selectInterface(unsigned index)
{
    haveInterface = false;
    std::fill(interfaceData.begin(), interfaceData.end(), 0);
    SP_DEVICE_INTERFACE_DATA *data = asInterfaceData(interfaceData);
    // The size of the structure as this build lays it out: 28 bytes in a
    // 32-bit process, 32 in a 64-bit one.
    data->cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!SetupDiEnumDeviceInterfaces(deviceList, nullptr, &usbTmcInterfaceClass, DWORD(index),
                                     data))
        return failWithSystemError();
    haveInterface = true;
    return true;
}

UsbTmcPort::DetailSize Win32UsbTmcPort::queryDetailSize(unsigned long *required)
{
    DWORD size = 0;
    if (SetupDiGetDeviceInterfaceDetailW(deviceList, asInterfaceData(interfaceData), nullptr, 0,
                                         &size, nullptr))
        return DetailSize::UnexpectedSuccess;
    error = long(GetLastError());
    if (error != ERROR_INSUFFICIENT_BUFFER)
        return DetailSize::Failed;
    *required = size;
    return DetailSize::Known;
}

bool Win32UsbTmcPort::queryDevicePath(unsigned long required, std::string *path)
{
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        error = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    // Aligned storage for the variable-length detail structure.
    std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(storage.data());
    // cbSize is the fixed part as this build lays it out (6 in a 32-bit
    // process, 8 in a 64-bit one), not the size of the buffer.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(deviceList, asInterfaceData(interfaceData), detail,
                                          DWORD(required), nullptr, nullptr))
        return failWithSystemError();
    *path = toUtf8(detail->DevicePath);
    return true;
}

bool Win32UsbTmcPort::endEnumeration()
{
    haveInterface = false;
    const BOOL destroyed = SetupDiDestroyDeviceInfoList(deviceList);
    deviceList = INVALID_HANDLE_VALUE;
    if (!destroyed)
        return failWithSystemError();
    return true;
}

bool Win32UsbTmcPort::open(const std::string &path)
{
    if (isOpen())
        close();
    const std::wstring widePath = toWide(path);
    // OPEN_EXISTING: the path names a device interface; any other path must
    // fail rather than create a file of that name.
    device = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return failWithSystemError();
    return true;
}

bool Win32UsbTmcPort::isOpen() const
{
    return device != INVALID_HANDLE_VALUE;
}

bool Win32UsbTmcPort::close()
{
    // INVALID_HANDLE_VALUE doubles as the current-process pseudo handle,
    // which CloseHandle would "close" successfully.
    if (!isOpen()) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    const BOOL closed = CloseHandle(device);
    if (!closed)
        error = long(GetLastError());
    device = INVALID_HANDLE_VALUE;
    return closed != FALSE;
}

bool Win32UsbTmcPort::write(const std::uint8_t *data, std::size_t length, std::size_t *written)
{
    *written = 0;
    if (!isOpen()) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (length > MAXDWORD) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    DWORD done = 0;
    if (!WriteFile(device, data, DWORD(length), &done, nullptr)) {
        *written = done;
        return failWithSystemError();
    }
    *written = done;
    return true;
}

bool Win32UsbTmcPort::read(std::uint8_t *buffer, std::size_t maximum, std::size_t *received)
{
    *received = 0;
    if (!isOpen()) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    if (maximum > MAXDWORD) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    DWORD done = 0;
    if (!ReadFile(device, buffer, DWORD(maximum), &done, nullptr)) {
        *received = done;
        return failWithSystemError();
    }
    *received = done;
    return true;
}

long Win32UsbTmcPort::lastError() const
{
    return error;
}
