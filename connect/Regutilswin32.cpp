// The machine's serial devices on Windows: the registry's map of serial devices.
#include "connect/Regutilswin32.h"

#include <cstdlib>

namespace {

// Closes the keys it holds when the enumeration ends, whichever way it ends.
class KeyChain {
public:
    ~KeyChain() {
        for (auto key = keys_.rbegin(); key != keys_.rend(); ++key) {
            RegCloseKey(*key);
        }
    }
    // Opens name below the last key opened (below root for the first), for reading.
    bool Open(HKEY root, const char* name) {
        HKEY parent = keys_.empty() ? root : keys_.back();
        HKEY key = nullptr;
        if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        keys_.push_back(key);
        return true;
    }
    HKEY Last() const { return keys_.back(); }

private:
    std::vector<HKEY> keys_;
};

} // namespace

bool EnumerateSerialDevicesUnder(HKEY root, DeviceList& list) {
    list.clear();
    KeyChain keys;
    for (const char* level : {"HARDWARE", "DEVICEMAP", "SERIALCOMM"}) {
        if (!keys.Open(root, level)) {
            return false;
        }
    }
    std::vector<std::string> names;
    LONG result = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        char valueName[kValueNameCapacity] = {};
        // One byte more than the value may hold, always zero: data that fills all of
        // its room without a terminator still ends there.
        BYTE data[kDeviceNameCapacity + 1] = {};
        DWORD nameLength = kValueNameCapacity;
        DWORD dataLength = kDeviceNameCapacity;
        DWORD type = 0;
        result = RegEnumValueA(keys.Last(), index, valueName, &nameLength, nullptr, &type, data,
                               &dataLength);
        if (result != ERROR_SUCCESS) {
            break;
        }
        // The type is not looked at: the data is taken as text whatever it claims to be.
        names.emplace_back(reinterpret_cast<const char*>(data));
    }
    if (result != ERROR_NO_MORE_ITEMS) {
        return false;
    }
    OrderDeviceNames(names, list);
    return true;
}

bool EnumerateSerialDevices(DeviceList& list) {
    return EnumerateSerialDevicesUnder(HKEY_LOCAL_MACHINE, list);
}

void OfferedSerialDevices(DeviceList& list) {
    if (!EnumerateSerialDevices(list)) {
        list.assign({kFirstSerialDevice, kSecondSerialDevice});
    }
    std::vector<std::string> extra;
    AppendExtraPorts(std::getenv(kExtraPortsVariable), extra);
    list.insert(list.end(), extra.begin(), extra.end());
}
