// The machine's serial devices on Linux: sysfs and the extra ports variable.
#include "connect/Regutils.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <sys/stat.h>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// ttyS followed by digits only: the legacy 8250/16550 ports, which the kernel
// registers whether or not a UART is fitted.
bool IsLegacySerialName(const std::string& name) {
    constexpr std::string_view prefix = "ttyS";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + prefix.size(), name.end(), IsDigit);
}

// The port's UART type as sysfs reports it; 0 (PORT_UNKNOWN) means no UART was
// found. A type that cannot be read counts as known, so the port is still offered.
bool UartTypeUnknown(const std::string& entryPath) {
    std::FILE* file = std::fopen((entryPath + "/type").c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    char text[32] = {};
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    if (!read) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long type = std::strtol(text, &end, 10);
    if (end == text || errno != 0) {
        return false;
    }
    return type == 0;
}

bool IsOfferedPort(const std::string& root, const std::string& name) {
    const std::string entryPath = root + "/" + name;
    struct stat info {};
    // Only terminals with a driver behind them are devices; virtual consoles and
    // the like have no device link.
    if (stat((entryPath + "/device/driver").c_str(), &info) != 0) {
        return false;
    }
    return !(IsLegacySerialName(name) && UartTypeUnknown(entryPath));
}

// Names of the offered terminals in sysfs, natural order. False when the
// directory cannot be opened or its listing breaks off.
bool ListSysfsPorts(const std::string& root, std::vector<std::string>& names) {
    DIR* dir = opendir(root.c_str());
    if (dir == nullptr) {
        return false;
    }
    std::vector<std::string> found;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) {
                closedir(dir);
                return false;
            }
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (IsOfferedPort(root, name)) {
            found.push_back(name);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    for (const std::string& name : found) {
        names.push_back("/dev/" + name);
    }
    return true;
}

} // namespace

bool EnumerateSerialDevices(DeviceList& list) {
    return EnumerateSerialDevices(list, kDefaultSysfsTtyRoot, std::getenv(kExtraPortsVariable));
}

bool EnumerateSerialDevices(DeviceList& list, const std::string& sysfsRoot,
                            const char* extraPorts) {
    list.clear();
    std::vector<std::string> names;
    if (!ListSysfsPorts(sysfsRoot, names)) {
        return false;
    }
    AppendExtraPorts(extraPorts, names);
    OrderDeviceNames(names, list);
    return true;
}

void OfferedSerialDevices(DeviceList& list, const std::string& sysfsRoot) {
    if (!EnumerateSerialDevices(list, sysfsRoot, std::getenv(kExtraPortsVariable))) {
        list.assign({kFirstSerialDevice, kSecondSerialDevice});
    }
}
