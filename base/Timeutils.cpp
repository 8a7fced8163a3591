#include "base/Timeutils.h"

#include <cstring>
#include <ctime>

namespace {
// Eight characters and the terminating zero.
char timeText[9] = "00:00:00";

void PutTwoDigits(char* at, int value) {
    at[0] = static_cast<char>('0' + value / 10);
    at[1] = static_cast<char>('0' + value % 10);
}
} // namespace

const char* FormatTimeOfDay(std::int64_t seconds) {
    if (seconds == 0) {
        seconds = static_cast<std::int64_t>(std::time(nullptr));
    }
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    // The conversion fails for years it cannot represent; the text then says so rather
    // than showing a made-up time. Hour, minute and second of a converted time are
    // always 0-23, 0-59 and 0-60, so two digits each suffice.
#ifdef _WIN32
    const bool converted = localtime_s(&local, &when) == 0;
#else
    const bool converted = localtime_r(&when, &local) != nullptr;
#endif
    if (!converted) {
        std::memcpy(timeText, "--:--:--", sizeof timeText);
        return timeText;
    }
    PutTwoDigits(timeText, local.tm_hour);
    timeText[2] = ':';
    PutTwoDigits(timeText + 3, local.tm_min);
    timeText[5] = ':';
    PutTwoDigits(timeText + 6, local.tm_sec);
    timeText[8] = '\0';
    return timeText;
}

std::string TimeOfDayText() {
    return std::string(FormatTimeOfDay(static_cast<std::int64_t>(std::time(nullptr))));
}
