// The time as milliseconds, for every platform (the calendar of UtcNow is each platform's own).
#include "system/UtcTime.h"

#include <chrono>

int64_t UtcNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void AppendUtcMsText(std::string& to, int64_t ms) {
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    // The civil date of a day count (the proleptic Gregorian calendar, in eras of 400 years).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    // Written digit by digit: a query prints this for each of hundreds of thousands of rows.
    char text[] = "0000-00-00T00:00:00.000Z";
    const auto put = [&text](size_t at, size_t digits, int64_t value) {
        for (size_t i = at + digits; i > at; --i) {
            text[i - 1] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
    };
    if (year < 0 || year > 9999) {
        to += std::to_string(ms) + "ms";
        return;
    }
    put(0, 4, year);
    put(5, 2, month);
    put(8, 2, day);
    put(11, 2, rest / 3600000);
    put(14, 2, rest / 60000 % 60);
    put(17, 2, rest / 1000 % 60);
    put(20, 3, rest % 1000);
    to.append(text, sizeof text - 1);
}

std::string UtcMsText(int64_t ms) {
    std::string text;
    AppendUtcMsText(text, ms);
    return text;
}
