// Filters for Items.Find and Items.Restrict: conditions "[Name] = value" joined by AND.
//
//   [ScribKey] = 12
//   [LastName] = "Doe" AND [FirstName] = "Jo"
//
// A value is a number (12, -3, 1.5e3), a text in double quotes ("" inside stands for one quote) or
// single quotes, or True/False/Yes/No (a yes/no value). "AND" is matched without regard to case.
// Property names are standard properties first, then user properties, without regard to case.
// A condition holds when the item has the property and:
// - a text value equals it without regard to case (a numeric property equals a text value that
//   reads as the same number);
// - a number equals a number, date, yes/no (1 or 0) or integer property exactly (a text property
//   equals it when the text reads as that number).
// Pure functions; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sx/outlook/store_data.h"

namespace sx::outlook {

struct Condition {
  std::string name;
  Value literal;  // kText or kNumber
};

struct Filter {
  std::vector<Condition> all;
};

// The parsed filter; nothing (and a reason naming the position) when it cannot be read.
std::optional<Filter> parse_filter(std::string_view text, std::string* why);

bool matches(const ItemData& item, const Condition& condition);
bool matches(const ItemData& item, const Filter& filter);

// A number read from all of `text` (leading and trailing blanks allowed); nothing otherwise.
std::optional<double> read_number(std::string_view text);

}  // namespace sx::outlook
