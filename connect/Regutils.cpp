#include "connect/Regutils.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the network port's name at the start of text (scheme://host:port, the
// host perhaps in brackets), or 0 when text does not start with one.
std::size_t NetworkNameLength(std::string_view text) {
    std::size_t at = 0;
    for (const std::string_view scheme : {std::string_view("rfc2217://"), std::string_view("tcp://")}) {
        if (text.substr(0, scheme.size()) == scheme) {
            at = scheme.size();
        }
    }
    if (at == 0) {
        return 0;
    }
    if (at < text.size() && text[at] == '[') {
        const std::size_t close = text.find(']', at);
        if (close == std::string_view::npos) {
            return 0;
        }
        at = close + 1;
    } else {
        const std::size_t colon = text.find(':', at);
        if (colon == std::string_view::npos) {
            return 0;
        }
        at = colon;
    }
    if (at >= text.size() || text[at] != ':') {
        return 0;
    }
    ++at;
    const std::size_t digits = at;
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return at > digits ? at : 0;
}

} // namespace

void AppendExtraPorts(const char* text, std::vector<std::string>& names) {
    if (text == nullptr) {
        return;
    }
    const std::string_view all = text;
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t network = NetworkNameLength(all.substr(start));
        std::size_t end = network != 0 ? start + network : all.find(':', start);
        if (end == std::string_view::npos) {
            end = all.size();
        }
        // A network name is only one when its port ends at a separator.
        if (network != 0 && end < all.size() && all[end] != ':') {
            end = all.find(':', end);
            if (end == std::string_view::npos) {
                end = all.size();
            }
        }
        if (end > start) {
            names.emplace_back(all.substr(start, end - start));
        }
        start = end + 1;
    }
}

void OrderDeviceNames(const std::vector<std::string>& names, DeviceList& list) {
    list.clear();
    bool firstSeen = false;
    bool secondSeen = false;
    for (const std::string& name : names) {
        if (name == kFirstSerialDevice) {
            firstSeen = true;
            list.push_front(name);
        } else if (name == kSecondSerialDevice) {
            secondSeen = true;
            list.push_front(name);
        } else {
            list.push_back(name);
        }
    }
    // Both went in at the front, so they are the first two, in the reverse of the
    // order in which they were met; put them in order whichever came first.
    if (firstSeen && secondSeen && list.front() == kSecondSerialDevice) {
        list[0] = kFirstSerialDevice;
        list[1] = kSecondSerialDevice;
    }
}

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Compare the two runs of digits by value: without leading zeros the
            // longer run is the larger number, equal lengths compare as text.
            std::size_t aStart = i;
            while (aStart < a.size() && a[aStart] == '0') {
                ++aStart;
            }
            std::size_t aEnd = aStart;
            while (aEnd < a.size() && IsDigit(a[aEnd])) {
                ++aEnd;
            }
            std::size_t bStart = j;
            while (bStart < b.size() && b[bStart] == '0') {
                ++bStart;
            }
            std::size_t bEnd = bStart;
            while (bEnd < b.size() && IsDigit(b[bEnd])) {
                ++bEnd;
            }
            const std::size_t aLength = aEnd - aStart;
            const std::size_t bLength = bEnd - bStart;
            if (aLength != bLength) {
                return aLength < bLength;
            }
            const int order = a.substr(aStart, aLength).compare(b.substr(bStart, bLength));
            if (order != 0) {
                return order < 0;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size())) {
        return j < b.size();
    }
    // Equal by value (ttyS1 and ttyS01): plain text decides, so the order is total.
    return a < b;
}

