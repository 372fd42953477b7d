// The date texts of a note post (the user properties "Day", "Month", "Year" and "Time" of the notes
// folder contract), written alike by the access component and the folder maintenance component.
// Pure functions; any thread.
#pragma once

#include <string>

#include "objbase.h"

namespace sx::common {

// "YYYY/MM/DD", "YYYY/MM" and "YYYY" of an automation date (the year in as many digits as it has,
// month and day with a leading zero below 10). "" for a date outside the valid range.
std::u16string day_text(DATE date);
std::u16string month_text(DATE date);
std::u16string year_text(DATE date);
// The time of day of `date` as an automation date on day zero (14:30 gives 0.6041666...), to the
// second. 0 for a date outside the valid range.
DATE time_of_day(DATE date);

}  // namespace sx::common
