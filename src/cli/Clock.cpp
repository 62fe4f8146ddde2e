#include "Clock.h"

#include <fmt/format.h>

#include <chrono>

namespace cli {

std::string IsoTimeNow(bool milliseconds) {
    using namespace std::chrono;
    const auto now = floor<std::chrono::milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    std::string text = fmt::format(
        "{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", int{date.year()}, unsigned{date.month()},
        unsigned{date.day()}, time.hours().count(), time.minutes().count(), time.seconds().count());
    if (milliseconds) text += fmt::format(".{:03}", time.subseconds().count());
    return text + "Z";
}

}  // namespace cli
