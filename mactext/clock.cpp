#include "mactext/clock.h"

#include <cstdio>

namespace mactext {

std::optional<int64_t> mac_date(uint32_t seconds) {
    constexpr int64_t kMacEpochToUnix = 2082844800;  // 1904-01-01 to 1970-01-01
    if (seconds == 0) return std::nullopt;
    return static_cast<int64_t>(seconds) - kMacEpochToUnix;
}

std::string iso_date(int64_t unix_seconds) {
    constexpr int64_t kDay = 86400;
    int64_t days = unix_seconds / kDay, second = unix_seconds % kDay;
    if (second < 0) {
        second += kDay;
        --days;
    }
    // The proleptic Gregorian date of a day count, by 400-year eras that
    // start on 1 March (so that the leap day ends a year).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t day_of_era = z - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];  // room for any int64_t in every field, which the compiler cannot rule out
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(second / 3600),
                  static_cast<long long>(second / 60 % 60), static_cast<long long>(second % 60));
    return text;
}

}  // namespace mactext
