#include <gtest/gtest.h>

#include "sx/outlook/filter.h"

namespace sx::outlook {
namespace {

ItemData contact(const char* last, const char* first) {
  ItemData d;
  d.object_class = 40;
  d.set("LastName", Value::text_of(last));
  d.set("FirstName", Value::text_of(first));
  d.user_props.push_back({"ScribKey", kUserNumber, Value::number_of(12)});
  d.user_props.push_back({"Archived", kUserYesNo, Value::bool_of(true)});
  return d;
}

TEST(FilterTest, AndQuotesNumbersAndCase) {
  std::string why;
  auto f = parse_filter(R"([LastName] = "Doe" and [FirstName] = 'Jo')", &why);
  ASSERT_TRUE(f) << why;
  ASSERT_EQ(f->all.size(), 2u);
  EXPECT_TRUE(matches(contact("Doe", "Jo"), *f));
  EXPECT_TRUE(matches(contact("DOE", "jo"), *f));  // texts compare without regard to case
  EXPECT_FALSE(matches(contact("Doe", "Joe"), *f));

  EXPECT_TRUE(matches(contact("a", "b"), *parse_filter("[ScribKey] = 12", &why)));
  EXPECT_TRUE(matches(contact("a", "b"), *parse_filter("[scribkey] = 12.0", &why)));
  EXPECT_TRUE(matches(contact("a", "b"), *parse_filter("[ScribKey] = \"12\"", &why)));
  EXPECT_FALSE(matches(contact("a", "b"), *parse_filter("[ScribKey] = 120", &why)));
  EXPECT_TRUE(matches(contact("a", "b"), *parse_filter("[Archived] = True", &why)));
  EXPECT_FALSE(matches(contact("a", "b"), *parse_filter("[Missing] = 1", &why)));

  auto quoted = parse_filter(R"([LastName] = "O""Brien")", &why);
  ASSERT_TRUE(quoted);
  EXPECT_EQ(quoted->all[0].literal.text, "O\"Brien");
}

TEST(FilterTest, MalformedFiltersSayWhere) {
  std::string why;
  EXPECT_FALSE(parse_filter("[ScribKey = 12", &why));
  EXPECT_FALSE(parse_filter("[ScribKey] 12", &why));
  EXPECT_FALSE(parse_filter("[ScribKey] = \"12", &why));
  EXPECT_FALSE(parse_filter("[A] = 1 OR [B] = 2", &why));
  EXPECT_NE(why.find("position 9"), std::string::npos) << why;
  EXPECT_FALSE(parse_filter("", &why));
}

}  // namespace
}  // namespace sx::outlook
