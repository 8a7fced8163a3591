// Feeds arbitrary bytes to the profile reader and checks what a profile it takes does: it
// is written and read back unchanged, and once applied to a receiver's settings nothing
// is left to tell them apart. A refusal always says why.

#include "receiver/Profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ReceiverProfile profile;
    std::string error;
    if (!ParseProfile(text, profile, error)) {
        Check(!error.empty());
        Check(profile == ReceiverProfile{});
        return 0;
    }
    ReceiverProfile again;
    Check(ParseProfile(WriteProfile(profile), again, error));
    Check(again == profile);

    ReceiverSettings settings;
    settings.WaasState = size > 0 ? data[0] : 0;
    settings.CorrectionsState = size > 1 ? data[1] : 0;
    settings.FreqMode = size > 2 ? data[2] : 0;
    ApplyProfile(profile, settings);
    Check(DiffProfile(profile, settings).empty());
    return 0;
}
