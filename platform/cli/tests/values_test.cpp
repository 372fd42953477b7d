// Checked numbers, plurals, columns and Windows error texts.
#include "sx/cli/values.h"

#include <gtest/gtest.h>

#include "win32/errors.h"

namespace sx::cli {
namespace {

TEST(Values, NumbersAreExactWithinTheirRange) {
  EXPECT_EQ(parse_number("0", 0, 10), 0);
  EXPECT_EQ(parse_number("010", 0, 10), 10);
  EXPECT_EQ(parse_number("0x1f", 0, 100), 31);
  EXPECT_EQ(parse_number("-9223372036854775808", INT64_MIN, 0), INT64_MIN);
  EXPECT_EQ(parse_number("9223372036854775807", 0, INT64_MAX), INT64_MAX);
  for (const char* bad : {"", "-", "0x", "1.5", " 1", "1 ", "+1", "1e3", "0x1g",
                          "99999999999999999999", "9223372036854775808", "-1", "11"}) {
    EXPECT_FALSE(parse_number(bad, 0, 10)) << bad;
  }
}

TEST(Values, CountsHaveTheirPluralAndColumnsCountCharacters) {
  EXPECT_EQ(count_of(1, "record", "records"), "1 record");
  EXPECT_EQ(count_of(0, "record", "records"), "0 records");
  EXPECT_EQ(count_of(2, "entry", "entries"), "2 entries");
  EXPECT_EQ(columns("M\xC3\xBCller"), 6u);
  EXPECT_EQ(pad_right("M\xC3\xBCller", 8), "M\xC3\xBCller  ");
  EXPECT_EQ(pad_right("longer than", 4), "longer than");
}

TEST(Values, WindowsErrorsReadAsWindowsSaysThem) {
  EXPECT_EQ(windows_error_text(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(windows_error_text(ERROR_BAD_PATHNAME), "The specified path is invalid.");
  EXPECT_EQ(windows_error_text(987654), "Windows error 987654.");
}

}  // namespace
}  // namespace sx::cli
