// A VISA library for tests: presents simulated instruments listening on
// loopback TCP ports as USB INSTR resources. Each write goes out as one line;
// each read returns the next reply line (line feed included), in pieces when
// the caller's buffer is smaller.
//
// Environment, read at each call:
//   FAKEVISA_INSTRUMENTS     "127.0.0.1:PORT;RESOURCE@127.0.0.1:PORT2"; resources
//                            default to USB0::0x2012::0x4417::SNnnnn::INSTR
//   FAKEVISA_WRITE_WARNING   "1": viWrite sends, then ends in a warning status
//   FAKEVISA_UNPLUGGED_AT    a write of a line starting with this text fails
//                            with VI_ERROR_IO, as to an instrument pulled out
//   FAKEVISA_READ_TIMEOUT_MS initial read time-out of a session (default 2000)
//   FAKEVISA_TRACE           file that gets one line per call worth checking
//   FAKEVISA_FIND_VANISHED   number of instruments viFindRsrc counts that are
//                            gone (unplugged) by the time viFindNext asks
//   FAKEVISA_TERM_CHAR       "1": a read that ends at the reply's line feed
//                            reports VI_SUCCESS_TERM_CHAR, as with the
//                            termination character enabled
//   FAKEVISA_SETUP_WAIT_MS   viOpenDefaultRM and viClose of a resource manager
//                            take this long; a second such call arriving
//                            meanwhile is traced as "overlapping
//                            resource-manager calls"
//   FAKEVISA_CLOSE_WAIT_AFTER once a line starting with this text was written
//                            to a session, its viClose takes
//   FAKEVISA_CLOSE_WAIT_MS   this long, as in a driver stuck on its device

#include "visatypes.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define FAKEVISA_EXPORT extern "C" __declspec(dllexport)
#define poll WSAPoll
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#define FAKEVISA_EXPORT extern "C" __attribute__((visibility("default")))
#define closesocket close
#endif

namespace
{

constexpr ViStatus VI_WARN_NULL_OBJECT = 0x3FFF0082;
constexpr ViAttr VI_ATTR_RSRC_NAME = 0xBFFF0002U;

struct Instrument {
    std::string resource;
    std::string host;
    int port = 0;
};

struct Session {
    enum Kind { ResourceManager, FindList, Device } kind = ResourceManager;
    ViSession parent = 0;
    std::vector<std::string> found; // find list: resources not yet handed out
    std::string resource;
    int socket = -1;
    std::string inbox;   // bytes received and not yet split into replies
    std::string pending; // rest of the reply being read
    ViUInt32 timeoutMs = 2000;
    bool slowClose = false;
};

std::mutex lock;
std::map<ViSession, Session> sessions;
ViSession nextSession = 1;

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

void trace(const std::string &line)
{
    const std::string path = environment("FAKEVISA_TRACE");
    if (path.empty())
        return;
    if (FILE *file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::vector<Instrument> instruments()
{
    std::vector<Instrument> list;
    const std::string listing = environment("FAKEVISA_INSTRUMENTS");
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find(';', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string entry = listing.substr(start, end - start);
        start = end + 1;
        Instrument instrument;
        const size_t at = entry.find('@');
        if (at != std::string::npos) {
            instrument.resource = entry.substr(0, at);
            entry = entry.substr(at + 1);
        }
        const size_t colon = entry.rfind(':');
        if (colon == std::string::npos)
            continue;
        instrument.host = entry.substr(0, colon);
        instrument.port = std::atoi(entry.substr(colon + 1).c_str());
        if (instrument.resource.empty()) {
            char name[64];
            std::snprintf(name, sizeof name, "USB0::0x2012::0x4417::SN%04d::INSTR",
                          int(list.size()) + 1);
            instrument.resource = name;
        }
        list.push_back(instrument);
    }
    return list;
}

// VISA resource expressions: '?' is any one character, '*' repeats the
// previous item zero or more times; letters match without regard to case.
bool matches(const char *pattern, const char *text)
{
    if (!*pattern)
        return !*text;
    const bool repeated = pattern[1] == '*';
    auto itemMatches = [&](char c) {
        return c && (*pattern == '?' ||
                     std::tolower((unsigned char)*pattern) == std::tolower((unsigned char)c));
    };
    if (repeated) {
        for (const char *t = text;; ++t) {
            if (matches(pattern + 2, t))
                return true;
            if (!itemMatches(*t))
                return false;
        }
    }
    return itemMatches(*text) && matches(pattern + 1, text + 1);
}

bool sameResource(const std::string &a, const char *b)
{
    return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

void copyDescriptor(ViChar *descriptor, const std::string &resource)
{
    std::snprintf(descriptor, VI_FIND_BUFLEN, "%s", resource.c_str());
}

Session *find(ViSession id, Session::Kind kind)
{
    const auto it = sessions.find(id);
    return it != sessions.end() && it->second.kind == kind ? &it->second : nullptr;
}

int connectTo(const Instrument &instrument)
{
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return -1;
#endif
    // Socket handles fit an int on both systems.
    const int fd = int(::socket(AF_INET, SOCK_STREAM, 0));
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(instrument.port));
    if (inet_pton(AF_INET, instrument.host.c_str(), &address.sin_addr) != 1 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::closesocket(fd);
        return -1;
    }
    return fd;
}

int waitReadable(int socket, int ms)
{
    pollfd waiting = {};
    waiting.fd = socket;
    waiting.events = POLLIN;
    return ::poll(&waiting, 1, ms);
}

void closeSession(ViSession id)
{
    const auto it = sessions.find(id);
    if (it == sessions.end())
        return;
    if (it->second.socket >= 0)
        ::closesocket(it->second.socket);
    sessions.erase(it);
}

// Waits up to the session's time-out for one complete reply line.
ViStatus receiveReply(Session &device)
{
    for (;;) {
        const size_t end = device.inbox.find('\n');
        if (end != std::string::npos) {
            device.pending = device.inbox.substr(0, end + 1);
            device.inbox.erase(0, end + 1);
            return VI_SUCCESS;
        }
        const int ready = waitReadable(device.socket, int(device.timeoutMs));
        if (ready == 0)
            return VI_ERROR_TMO;
        char chunk[4096];
        const ssize_t got = ready > 0 ? ::recv(device.socket, chunk, sizeof chunk, 0) : -1;
        if (got <= 0)
            return VI_ERROR_IO;
        device.inbox.append(chunk, size_t(got));
    }
}

// Forgets replies nobody asked for, so the next read belongs to the next
// query. The rest of a reply already read in part stays, as it does in a
// real library's read buffer.
void discardUnread(Session &device)
{
    device.inbox.clear();
    char chunk[4096];
    while (waitReadable(device.socket, 0) > 0 &&
           ::recv(device.socket, chunk, sizeof chunk, 0) > 0) {
    }
}

std::atomic<int> managerCalls{0};

// Marks a call that sets up or tears down a resource manager for its
// lifetime, stretched by FAKEVISA_SETUP_WAIT_MS, and traces a second one
// that starts meanwhile.
class ManagerCall
{
public:
    explicit ManagerCall(bool manager)
        : waitMs(manager ? std::atoi(environment("FAKEVISA_SETUP_WAIT_MS").c_str()) : 0)
    {
        if (waitMs <= 0)
            return;
        if (managerCalls.fetch_add(1) > 0) {
            std::lock_guard<std::mutex> guard(lock);
            trace("overlapping resource-manager calls");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
    ~ManagerCall()
    {
        if (waitMs > 0)
            managerCalls.fetch_sub(1);
    }
    ManagerCall(const ManagerCall &) = delete;
    ManagerCall &operator=(const ManagerCall &) = delete;

private:
    const int waitMs;
};

} // namespace

FAKEVISA_EXPORT ViStatus viOpenDefaultRM(ViSession *session)
{
    const ManagerCall call(true);
    std::lock_guard<std::mutex> guard(lock);
    if (!session)
        return VI_ERROR_INV_OBJECT;
    *session = nextSession++;
    sessions[*session] = Session();
    trace("viOpenDefaultRM");
    return VI_SUCCESS;
}

FAKEVISA_EXPORT ViStatus viFindRsrc(ViSession session, const char *expression, ViFindList *findList,
                                    ViUInt32 *count, ViChar *descriptor)
{
    std::lock_guard<std::mutex> guard(lock);
    trace(std::string("viFindRsrc ") + (expression ? expression : ""));
    if (!find(session, Session::ResourceManager) || !expression || !findList || !count)
        return VI_ERROR_INV_OBJECT;
    *findList = 0;
    *count = 0;
    Session list;
    list.kind = Session::FindList;
    list.parent = session;
    for (const Instrument &instrument : instruments()) {
        if (matches(expression, instrument.resource.c_str()))
            list.found.push_back(instrument.resource);
    }
    if (list.found.empty())
        return VI_ERROR_RSRC_NFOUND;
    *count = ViUInt32(list.found.size()) +
             ViUInt32(std::atoi(environment("FAKEVISA_FIND_VANISHED").c_str()));
    if (descriptor)
        copyDescriptor(descriptor, list.found.front());
    list.found.erase(list.found.begin());
    *findList = nextSession++;
    sessions[*findList] = list;
    return VI_SUCCESS;
}

#ifndef FAKEVISA_WITHOUT_FINDNEXT
FAKEVISA_EXPORT ViStatus viFindNext(ViFindList findList, ViChar *descriptor)
{
    std::lock_guard<std::mutex> guard(lock);
    Session *list = find(findList, Session::FindList);
    if (!list)
        return VI_ERROR_INV_OBJECT;
    if (list->found.empty())
        return VI_ERROR_RSRC_NFOUND;
    if (descriptor)
        copyDescriptor(descriptor, list->found.front());
    list->found.erase(list->found.begin());
    return VI_SUCCESS;
}
#endif

FAKEVISA_EXPORT ViStatus viOpen(ViSession session, const char *resource, ViAccessMode, ViUInt32,
                                ViSession *instrument)
{
    std::lock_guard<std::mutex> guard(lock);
    trace(std::string("viOpen ") + (resource ? resource : ""));
    if (!instrument)
        return VI_ERROR_INV_OBJECT;
    *instrument = 0;
    if (!find(session, Session::ResourceManager) || !resource)
        return VI_ERROR_INV_OBJECT;
    for (const Instrument &candidate : instruments()) {
        if (!sameResource(candidate.resource, resource))
            continue;
        Session device;
        device.kind = Session::Device;
        device.parent = session;
        device.resource = candidate.resource;
        device.socket = connectTo(candidate);
        if (device.socket < 0)
            return VI_ERROR_IO;
        const std::string timeout = environment("FAKEVISA_READ_TIMEOUT_MS");
        if (!timeout.empty())
            device.timeoutMs = ViUInt32(std::atoi(timeout.c_str()));
        *instrument = nextSession++;
        sessions[*instrument] = device;
        return VI_SUCCESS;
    }
    return VI_ERROR_RSRC_NFOUND;
}

FAKEVISA_EXPORT ViStatus viClose(ViObject object)
{
    bool manager = false;
    bool slowClose = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        manager = find(object, Session::ResourceManager) != nullptr;
        const Session *device = find(object, Session::Device);
        slowClose = device && device->slowClose;
    }
    if (slowClose)
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::atoi(environment("FAKEVISA_CLOSE_WAIT_MS").c_str())));
    const ManagerCall call(manager);
    std::lock_guard<std::mutex> guard(lock);
    if (object == 0) {
        trace("viClose null");
        return VI_WARN_NULL_OBJECT;
    }
    const auto it = sessions.find(object);
    if (it == sessions.end()) {
        trace("viClose invalid");
        return VI_ERROR_INV_OBJECT;
    }
    static const char *const kinds[] = {"resource-manager", "find-list", "device"};
    trace(std::string("viClose ") + kinds[it->second.kind]);
    if (it->second.kind == Session::ResourceManager) {
        std::vector<ViSession> children;
        for (const auto &entry : sessions) {
            if (entry.second.parent == object)
                children.push_back(entry.first);
        }
        for (ViSession child : children)
            closeSession(child);
    }
    closeSession(object);
    return VI_SUCCESS;
}

FAKEVISA_EXPORT ViStatus viWrite(ViSession instrument, const ViByte *buffer, ViUInt32 count,
                                 ViUInt32 *returned)
{
    std::lock_guard<std::mutex> guard(lock);
    if (returned)
        *returned = 0;
    Session *device = find(instrument, Session::Device);
    if (!device)
        return VI_ERROR_INV_OBJECT;
    if (!buffer && count > 0)
        return VI_ERROR_IO;
    std::string line(reinterpret_cast<const char *>(buffer), count);
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    line += '\n';
    const std::string unplugged = environment("FAKEVISA_UNPLUGGED_AT");
    if (!unplugged.empty() && line.compare(0, unplugged.size(), unplugged) == 0)
        return VI_ERROR_IO;
    const std::string slowCloseAfter = environment("FAKEVISA_CLOSE_WAIT_AFTER");
    if (!slowCloseAfter.empty() && line.compare(0, slowCloseAfter.size(), slowCloseAfter) == 0)
        device->slowClose = true;
    discardUnread(*device);
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(device->socket, line.data() + sent, line.size() - sent, 0);
        if (n <= 0)
            return VI_ERROR_IO;
        sent += size_t(n);
    }
    if (returned)
        *returned = count;
    return environment("FAKEVISA_WRITE_WARNING") == "1" ? VI_WARN_UNKNOWN_STATUS : VI_SUCCESS;
}

FAKEVISA_EXPORT ViStatus viRead(ViSession instrument, ViByte *buffer, ViUInt32 count,
                                ViUInt32 *returned)
{
    std::lock_guard<std::mutex> guard(lock);
    if (returned)
        *returned = 0;
    Session *device = find(instrument, Session::Device);
    if (!device)
        return VI_ERROR_INV_OBJECT;
    if (device->pending.empty()) {
        const ViStatus status = receiveReply(*device);
        if (status != VI_SUCCESS)
            return status;
    }
    const size_t n = std::min<size_t>(count, device->pending.size());
    if (n > 0)
        std::memcpy(buffer, device->pending.data(), n);
    device->pending.erase(0, n);
    if (returned)
        *returned = ViUInt32(n);
    if (!device->pending.empty())
        return VI_SUCCESS_MAX_CNT;
    const bool atTermChar = n > 0 && buffer[n - 1] == '\n';
    return atTermChar && environment("FAKEVISA_TERM_CHAR") == "1" ? VI_SUCCESS_TERM_CHAR
                                                                  : VI_SUCCESS;
}

FAKEVISA_EXPORT ViStatus viGetAttribute(ViObject object, ViAttr attribute, void *value)
{
    std::lock_guard<std::mutex> guard(lock);
    Session *device = find(object, Session::Device);
    if (!device)
        return VI_ERROR_INV_OBJECT;
    if (attribute == VI_ATTR_TMO_VALUE) {
        std::memcpy(value, &device->timeoutMs, sizeof device->timeoutMs);
        return VI_SUCCESS;
    }
    if (attribute == VI_ATTR_RSRC_NAME) {
        // A string attribute: VISA fills a caller's buffer of 256 characters.
        char name[VI_FIND_BUFLEN];
        std::memset(name, '#', sizeof name);
        std::snprintf(name, sizeof name, "%s", device->resource.c_str());
        std::memcpy(value, name, sizeof name);
        return VI_SUCCESS;
    }
    return VI_ERROR_NSUP_ATTR;
}

FAKEVISA_EXPORT ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value)
{
    std::lock_guard<std::mutex> guard(lock);
    trace("viSetAttribute " + std::to_string(attribute) + " " + std::to_string(value));
    Session *device = find(object, Session::Device);
    if (!device)
        return VI_ERROR_INV_OBJECT;
    if (attribute != VI_ATTR_TMO_VALUE)
        return VI_ERROR_NSUP_ATTR;
    device->timeoutMs = ViUInt32(value);
    return VI_SUCCESS;
}

#ifndef FAKEVISA_WITHOUT_SETBUF
FAKEVISA_EXPORT ViStatus viSetBuf(ViSession instrument, ViUInt16 mask, ViUInt32 size)
{
    std::lock_guard<std::mutex> guard(lock);
    trace("viSetBuf " + std::to_string(mask) + " " + std::to_string(size));
    return find(instrument, Session::Device) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}
#endif

FAKEVISA_EXPORT ViStatus viIn32(ViSession, ViUInt16, ViBusAddress, ViUInt32 *)
{
    return VI_ERROR_NSUP_OPER;
}

FAKEVISA_EXPORT ViStatus viOut32(ViSession, ViUInt16, ViBusAddress, ViUInt32)
{
    return VI_ERROR_NSUP_OPER;
}
