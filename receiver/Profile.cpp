#include "receiver/Profile.h"
#include "base/Smallfile.h"
#include "proto/Jsontext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cctype>
#include <charconv>
#include <utility>

namespace {

// A JSON value as read. Numbers keep the text they were written with, so that whole
// numbers and frequencies are judged by what the document says rather than by a double.
struct JsonValue {
    enum class Kind : std::uint8_t { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text;              // a string's decoded text, a number's token
    std::vector<JsonValue> items;  // an array's items, an object's values
    std::vector<std::string> keys; // an object's keys, one for each of its items
};

// Deep enough for any profile, shallow enough that no document can exhaust the stack.
constexpr int kMaxDepth = 16;

// A strict reader of RFC 8259 JSON: no comments, no trailing commas, no single quotes,
// nothing after the value but white space.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool ReadDocument(JsonValue& value, std::string& error) {
        SkipSpace();
        bool ok = ReadValue(value, 0);
        if (ok) {
            SkipSpace();
            if (pos_ != text_.size()) {
                ok = Fail("text after the end of the value");
            }
        }
        if (!ok) {
            error = error_;
        }
        return ok;
    }

private:
    bool Fail(const char* what) {
        error_ = std::string("not JSON: ") + what + " at byte " + std::to_string(pos_);
        return false;
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return text_[pos_]; }

    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++pos_;
        }
    }

    bool ReadValue(JsonValue& v, int depth) {
        if (AtEnd()) {
            return Fail("a value expected");
        }
        switch (Peek()) {
        case '{':
            return ReadObject(v, depth);
        case '[':
            return ReadArray(v, depth);
        case '"':
            v.kind = JsonValue::Kind::String;
            return ReadString(v.text);
        case 't':
            v.kind = JsonValue::Kind::Bool;
            v.boolean = true;
            return ReadWord("true");
        case 'f':
            v.kind = JsonValue::Kind::Bool;
            return ReadWord("false");
        case 'n':
            v.kind = JsonValue::Kind::Null;
            return ReadWord("null");
        default:
            v.kind = JsonValue::Kind::Number;
            return ReadNumber(v.text);
        }
    }

    bool ReadObject(JsonValue& v, int depth) {
        if (depth >= kMaxDepth) {
            return Fail("values nested too deeply");
        }
        v.kind = JsonValue::Kind::Object;
        ++pos_; // {
        SkipSpace();
        if (!AtEnd() && Peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (AtEnd() || Peek() != '"') {
                return Fail("a key expected");
            }
            std::string key;
            if (!ReadString(key)) {
                return false;
            }
            SkipSpace();
            if (AtEnd() || Peek() != ':') {
                return Fail("':' expected");
            }
            ++pos_;
            SkipSpace();
            JsonValue item;
            if (!ReadValue(item, depth + 1)) {
                return false;
            }
            v.keys.push_back(std::move(key));
            v.items.push_back(std::move(item));
            SkipSpace();
            if (AtEnd()) {
                return Fail("',' or '}' expected");
            }
            const char c = text_[pos_++];
            if (c == '}') {
                return true;
            }
            if (c != ',') {
                --pos_;
                return Fail("',' or '}' expected");
            }
        }
    }

    bool ReadArray(JsonValue& v, int depth) {
        if (depth >= kMaxDepth) {
            return Fail("values nested too deeply");
        }
        v.kind = JsonValue::Kind::Array;
        ++pos_; // [
        SkipSpace();
        if (!AtEnd() && Peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipSpace();
            JsonValue item;
            if (!ReadValue(item, depth + 1)) {
                return false;
            }
            v.items.push_back(std::move(item));
            SkipSpace();
            if (AtEnd()) {
                return Fail("',' or ']' expected");
            }
            const char c = text_[pos_++];
            if (c == ']') {
                return true;
            }
            if (c != ',') {
                --pos_;
                return Fail("',' or ']' expected");
            }
        }
    }

    bool ReadWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) {
            return Fail("a value expected");
        }
        pos_ += word.size();
        return true;
    }

    bool ReadHex4(std::uint32_t& code) {
        if (text_.size() - pos_ < 4) {
            return Fail("four hexadecimal digits expected");
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return Fail("four hexadecimal digits expected");
            }
            ++pos_;
        }
        return true;
    }

    static void AppendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool ReadString(std::string& out) {
        ++pos_; // "
        for (;;) {
            if (AtEnd()) {
                return Fail("unterminated string");
            }
            const char c = text_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return Fail("control character in a string");
            }
            if (c != '\\') {
                out += c;
                ++pos_;
                continue;
            }
            ++pos_;
            if (AtEnd()) {
                return Fail("unterminated string");
            }
            const char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::uint32_t code = 0;
                if (!ReadHex4(code)) {
                    return false;
                }
                if (code >= 0xDC00 && code <= 0xDFFF) {
                    return Fail("unpaired surrogate");
                }
                if (code >= 0xD800 && code <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (text_.substr(pos_, 2) != "\\u") {
                        return Fail("unpaired surrogate");
                    }
                    pos_ += 2;
                    if (!ReadHex4(low)) {
                        return false;
                    }
                    if (low < 0xDC00 || low > 0xDFFF) {
                        return Fail("unpaired surrogate");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, code);
                break;
            }
            default:
                --pos_;
                return Fail("unknown escape");
            }
        }
    }

    bool Digits() {
        const std::size_t start = pos_;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            ++pos_;
        }
        return pos_ > start;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    bool ReadNumber(std::string& out) {
        const std::size_t start = pos_;
        if (!AtEnd() && Peek() == '-') {
            ++pos_;
        }
        if (!AtEnd() && Peek() == '0') {
            ++pos_;
        } else if (!Digits()) {
            pos_ = start;
            return Fail("a value expected");
        }
        if (!AtEnd() && Peek() == '.') {
            ++pos_;
            if (!Digits()) {
                return Fail("digits expected after '.'");
            }
        }
        if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
            ++pos_;
            if (!AtEnd() && (Peek() == '+' || Peek() == '-')) {
                ++pos_;
            }
            if (!Digits()) {
                return Fail("digits expected in the exponent");
            }
        }
        out.assign(text_.substr(start, pos_ - start));
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;
};

// A value as an error message shows it: short, and printable whatever it holds.
std::string Shown(const JsonValue& v) {
    constexpr std::size_t kLongest = 40;
    switch (v.kind) {
    case JsonValue::Kind::Null:
        return "null";
    case JsonValue::Kind::Bool:
        return v.boolean ? "true" : "false";
    case JsonValue::Kind::Number:
        return v.text.size() > kLongest ? v.text.substr(0, kLongest) + "..." : v.text;
    case JsonValue::Kind::String:
        return v.text.size() > kLongest ? JsonString(v.text.substr(0, kLongest)) + "..."
                                        : JsonString(v.text);
    case JsonValue::Kind::Array:
        return "a list";
    case JsonValue::Kind::Object:
        return "an object";
    }
    return "";
}

// A key as an error message names it.
std::string ShownKey(const std::string& key) {
    const std::string quoted = JsonString(key.size() > 40 ? key.substr(0, 40) : key);
    const bool plain =
        quoted.size() == key.size() + 2 && key.find(' ') == std::string::npos && !key.empty();
    return plain ? key : quoted;
}

// A number written as a whole number without sign, fraction or exponent, up to 2^32 - 1.
bool WholeNumber(const JsonValue& v, std::uint32_t& number) {
    if (v.kind != JsonValue::Kind::Number || v.text.empty() || v.text.size() > 10) {
        return false;
    }
    std::uint64_t n = 0;
    const auto end = std::from_chars(v.text.data(), v.text.data() + v.text.size(), n);
    if (end.ec != std::errc() || end.ptr != v.text.data() + v.text.size() || n > 0xFFFFFFFFu) {
        return false;
    }
    number = static_cast<std::uint32_t>(n);
    return true;
}

bool SentenceFlag(const std::string& name, std::uint32_t& flag) {
    std::string upper;
    for (const char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (std::uint32_t bit = 1; bit <= kNmeaRMC; bit <<= 1) {
        if (upper == NmeaListText(bit)) {
            flag = bit;
            return true;
        }
    }
    return false;
}

// "on" or "off" into on; "not available" for waas, which holds nothing.
bool OnOffValue(const JsonValue& v, std::optional<bool>& on, bool notAvailableAllowed) {
    if (v.kind != JsonValue::Kind::String) {
        return false;
    }
    if (v.text == "on" || v.text == "off") {
        on = v.text == "on";
        return true;
    }
    return notAvailableAllowed && v.text == "not available";
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

std::string FrequencyOf(const ProfileFrequency& f) {
    return f.Alternate ? ChannelMHzText(f.Channel) : "default";
}

// The profile's settings from a document whose version is known; false with error set at
// the first key at fault.
bool ReadSettings(const JsonValue& doc, ReceiverProfile& p, std::string& error) {
    std::optional<std::string> frequencyMode; // "default" or "alternate"
    std::optional<std::int32_t> channel;
    std::optional<std::int32_t> mhzChannel;
    std::string mhzText;
    for (std::size_t i = 0; i < doc.keys.size(); ++i) {
        const std::string& key = doc.keys[i];
        const JsonValue& v = doc.items[i];
        const auto fail = [&error, &key](const std::string& what) {
            error = ShownKey(key) + ": " + what;
            return false;
        };
        const bool null = v.kind == JsonValue::Kind::Null;
        std::uint32_t n = 0;
        if (key == "profile_version") {
            continue; // checked before
        } else if (key == "device") {
            if (!null && v.kind != JsonValue::Kind::String) {
                return fail(Shown(v) + " is not a text");
            }
        } else if (key == "engine_status") {
            if (!null && v.kind != JsonValue::Kind::Number) {
                return fail(Shown(v) + " is not a number");
            }
        } else if (key == "software_version") {
            if (!null && v.kind != JsonValue::Kind::String) {
                return fail(Shown(v) + " is not a text");
            }
            if (!null) {
                p.SoftwareVersion = v.text;
            }
        } else if (null) {
            if (key != "baud_rate" && key != "nmea" && key != "nav_rate" && key != "waas" &&
                key != "corrections" && key != "frequency" && key != "frequency_mhz" &&
                key != "channel") {
                return fail("not a key of a profile");
            }
        } else if (key == "baud_rate") {
            if (!WholeNumber(v, n) || (n != 4800 && n != 9600 && n != 19200 && n != 38400)) {
                return fail(Shown(v) + " is not 4800, 9600, 19200 or 38400");
            }
            p.BaudRate = n;
        } else if (key == "nmea") {
            if (v.kind != JsonValue::Kind::Array) {
                return fail(Shown(v) + " is not a list of sentence names");
            }
            std::uint32_t flags = 0;
            for (const JsonValue& item : v.items) {
                std::uint32_t flag = 0;
                if (item.kind != JsonValue::Kind::String || !SentenceFlag(item.text, flag)) {
                    return fail(Shown(item) + " is not one of GGA, GSA, ZDA, VTG, RMC");
                }
                flags |= flag;
            }
            p.NmeaFlags = flags;
        } else if (key == "nav_rate") {
            if (!WholeNumber(v, n) || (n != 1 && n != 5)) {
                return fail(Shown(v) + " is not 1 or 5");
            }
            p.NavRate = n;
        } else if (key == "waas") {
            if (!OnOffValue(v, p.WaasOn, true)) {
                return fail(Shown(v) + " is not \"on\" or \"off\"");
            }
        } else if (key == "corrections") {
            if (!OnOffValue(v, p.CorrectionsOn, false)) {
                return fail(Shown(v) + " is not \"on\" or \"off\"");
            }
        } else if (key == "frequency") {
            if (v.kind != JsonValue::Kind::String ||
                (v.text != "default" && v.text != "alternate")) {
                return fail(Shown(v) + " is not \"default\" or \"alternate\"");
            }
            frequencyMode = v.text;
        } else if (key == "frequency_mhz") {
            std::int32_t ch = 0;
            if (v.kind != JsonValue::Kind::Number || !ParseBandFrequency(v.text, ch)) {
                return fail(Shown(v) + " is not a frequency from " + std::to_string(kBandLowMHz) +
                            " to " + std::to_string(kBandHighMHz) + " MHz on a 0.5 kHz step");
            }
            mhzChannel = ch;
            mhzText = v.text;
        } else if (key == "channel") {
            if (!WholeNumber(v, n) || n > static_cast<std::uint32_t>(kProfileMaxChannel)) {
                return fail(Shown(v) + " is not a channel from 0 to " +
                            std::to_string(kProfileMaxChannel));
            }
            channel = static_cast<std::int32_t>(n);
        } else {
            return fail("not a key of a profile");
        }
    }

    if (frequencyMode == "default") {
        if (channel || mhzChannel) {
            error = std::string(channel ? "channel" : "frequency_mhz") +
                    ": given with frequency \"default\"";
            return false;
        }
        p.Frequency = ProfileFrequency{};
    } else if (channel || mhzChannel) {
        if (channel && mhzChannel && *channel != *mhzChannel) {
            error = "frequency_mhz: " + mhzText + " is not channel " + std::to_string(*channel);
            return false;
        }
        p.Frequency = ProfileFrequency{true, channel ? *channel : *mhzChannel};
    } else if (frequencyMode == "alternate") {
        error = "frequency: \"alternate\" needs channel or frequency_mhz";
        return false;
    }
    return true;
}

} // namespace

bool ParseProfile(std::string_view json, ReceiverProfile& out, std::string& error) {
    if (json.size() > kProfileMaxBytes) {
        error = "not a profile: longer than " + std::to_string(kProfileMaxBytes) + " bytes";
        return false;
    }
    JsonValue doc;
    if (!JsonReader(json).ReadDocument(doc, error)) {
        return false;
    }
    if (doc.kind != JsonValue::Kind::Object) {
        error = "not a profile: a JSON object is expected";
        return false;
    }
    std::vector<std::string> sorted = doc.keys;
    std::sort(sorted.begin(), sorted.end());
    const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
    if (twice != sorted.end()) {
        error = ShownKey(*twice) + ": given twice";
        return false;
    }
    // The version first: under another version the other keys may mean other things.
    const JsonValue* version = nullptr;
    for (std::size_t i = 0; i < doc.keys.size(); ++i) {
        if (doc.keys[i] == "profile_version") {
            version = &doc.items[i];
        }
    }
    if (version == nullptr) {
        error = "profile_version: missing";
        return false;
    }
    std::uint32_t n = 0;
    if (!WholeNumber(*version, n) || n != static_cast<std::uint32_t>(kProfileFormatVersion)) {
        error = "profile_version: " + Shown(*version) + " is not a known version (" +
                std::to_string(kProfileFormatVersion) + ")";
        return false;
    }

    ReceiverProfile p;
    if (!ReadSettings(doc, p, error)) {
        return false;
    }
    out = std::move(p);
    return true;
}

std::string WriteProfile(const ReceiverProfile& p) {
    std::string out = "{\n  \"profile_version\": " + std::to_string(p.FormatVersion);
    const auto key = [&out](const char* name) {
        out += ",\n  \"";
        out += name;
        out += "\": ";
    };
    if (p.SoftwareVersion) {
        key("software_version");
        out += JsonString(*p.SoftwareVersion);
    }
    if (p.BaudRate) {
        key("baud_rate");
        out += std::to_string(*p.BaudRate);
    }
    if (p.NmeaFlags) {
        key("nmea");
        out += "[";
        for (std::uint32_t bit = 1; bit <= kNmeaRMC; bit <<= 1) {
            if ((*p.NmeaFlags & bit) != 0) {
                out += (out.back() == '[' ? "\"" : ", \"") + NmeaListText(bit) + "\"";
            }
        }
        out += "]";
    }
    if (p.NavRate) {
        key("nav_rate");
        out += std::to_string(*p.NavRate);
    }
    if (p.WaasOn) {
        key("waas");
        out += JsonString(OnOff(*p.WaasOn));
    }
    if (p.CorrectionsOn) {
        key("corrections");
        out += JsonString(OnOff(*p.CorrectionsOn));
    }
    if (p.Frequency) {
        key("frequency");
        out += p.Frequency->Alternate ? "\"alternate\"" : "\"default\"";
        if (p.Frequency->Alternate) {
            key("frequency_mhz");
            out += ChannelMHzText(p.Frequency->Channel);
            key("channel");
            out += std::to_string(p.Frequency->Channel);
        }
    }
    return out + "\n}\n";
}

ReceiverProfile ProfileFromSettings(const ReceiverSettings& s,
                                    std::optional<std::string> softwareVersion) {
    ReceiverProfile p;
    p.SoftwareVersion = std::move(softwareVersion);
    p.BaudRate = s.BaudRate;
    p.NmeaFlags = s.NmeaFlags & kNmeaFlagsMask;
    p.NavRate = s.NavRate;
    if (s.WaasState == 0 || s.WaasState == 1) {
        p.WaasOn = s.WaasState == 1;
    }
    p.CorrectionsOn = s.CorrectionsState == 0;
    p.Frequency = ProfileFrequency{s.FreqMode != 0, s.FreqMode != 0 ? s.ChannelNum : 0};
    return p;
}

void ApplyProfile(const ReceiverProfile& p, ReceiverSettings& s) {
    if (p.BaudRate) {
        s.BaudRate = *p.BaudRate;
    }
    if (p.NmeaFlags) {
        s.NmeaFlags = (s.NmeaFlags & ~kNmeaFlagsMask) | (*p.NmeaFlags & kNmeaFlagsMask);
    }
    if (p.NavRate) {
        s.NavRate = *p.NavRate;
    }
    if (p.WaasOn) {
        if (*p.WaasOn) {
            s.WaasState = 1;
        } else if (s.WaasState == 1) {
            s.WaasState = 0;
        }
    }
    if (p.CorrectionsOn) {
        if (*p.CorrectionsOn) {
            s.CorrectionsState = 0;
        } else if (s.CorrectionsState == 0) {
            s.CorrectionsState = 1;
        }
    }
    if (p.Frequency) {
        if (!p.Frequency->Alternate) {
            s.FreqMode = 0;
        } else {
            if (s.FreqMode == 0) {
                s.FreqMode = 1;
            }
            s.ChannelNum = p.Frequency->Channel;
        }
    }
}

std::vector<std::string> DiffProfile(const ReceiverProfile& p, const ReceiverSettings& s) {
    std::vector<std::string> out;
    const auto differ = [&out](const char* what, const std::string& a, const std::string& r) {
        if (a != r) {
            out.push_back(std::string(what) + ": profile " + a + ", receiver " + r);
        }
    };
    if (p.BaudRate) {
        differ("baud rate", std::to_string(*p.BaudRate), std::to_string(s.BaudRate));
    }
    if (p.NmeaFlags) {
        differ("NMEA sentences", NmeaListText(*p.NmeaFlags & kNmeaFlagsMask),
               NmeaListText(s.NmeaFlags & kNmeaFlagsMask));
    }
    if (p.NavRate) {
        differ("navigation rate", std::to_string(*p.NavRate), std::to_string(s.NavRate));
    }
    // A receiver without WAAS has it off as far as a profile asks.
    if (p.WaasOn && *p.WaasOn != (s.WaasState == 1)) {
        differ("WAAS", OnOff(*p.WaasOn), WaasText(s.WaasState));
    }
    if (p.CorrectionsOn) {
        differ("corrections", OnOff(*p.CorrectionsOn), OnOff(s.CorrectionsState == 0));
    }
    if (p.Frequency) {
        differ("frequency", FrequencyOf(*p.Frequency), FrequencyText(s));
    }
    return out;
}

bool ReadProfileFile(const std::string& path, ReceiverProfile& out, std::string& error) {
    std::string text;
    if (!ReadSmallFile(path, kProfileMaxBytes, text, error)) {
        return false;
    }
    if (text.size() > kProfileMaxBytes) {
        error = "longer than " + std::to_string(kProfileMaxBytes) + " bytes: not a profile";
        return false;
    }
    return ParseProfile(text, out, error);
}

bool WriteProfileFile(const std::string& path, const ReceiverProfile& profile,
                      std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const std::string text = WriteProfile(profile);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         std::fflush(file) == 0;
    const int writeError = errno;
    if (std::fclose(file) != 0 || !written) {
        error = std::strerror(written ? errno : writeError);
        return false;
    }
    return true;
}
