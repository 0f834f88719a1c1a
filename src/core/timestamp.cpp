#include "core/timestamp.hpp"

#include <cstdio>

namespace kelvo::timestamp {

using namespace std::chrono;

Timestamp now() {
    return time_point_cast<nanoseconds>(system_clock::now());
}

std::string format(Timestamp t, int digits) {
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<nanoseconds> tod{t - day};
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d", int(ymd.year()),
                          unsigned(ymd.month()), unsigned(ymd.day()), int(tod.hours().count()),
                          int(tod.minutes().count()), int(tod.seconds().count()));
    std::string out(buf, static_cast<std::size_t>(n));
    if (digits > 0) {
        char frac[16];
        std::snprintf(frac, sizeof frac, "%09lld", static_cast<long long>(tod.subseconds().count()));
        out += '.';
        out.append(frac, static_cast<std::size_t>(digits > 9 ? 9 : digits));
    }
    out += 'Z';
    return out;
}

std::string format_auto(Timestamp t) {
    const auto sub = (t - floor<seconds>(t)).count();
    int digits = 9;
    if (sub == 0)
        digits = 0;
    else if (sub % 1'000'000 == 0)
        digits = 3;
    else if (sub % 1'000 == 0)
        digits = 6;
    return format(t, digits);
}

} // namespace kelvo::timestamp
