// The mapping's pieces that need no Outlook, and the positions a delete works from.
#include <gtest/gtest.h>

#include "position_index.h"
#include "post_mapping.h"

namespace sx::assist {
namespace {

TEST(PostMapping, DateTextsCarryLeadingZerosAndTheTimeOfDayIsOnDayZero) {
  const DATE march5 = 36955.0 + 14.5 / 24;  // 5 March 2001 14:30
  EXPECT_EQ(day_text(march5), u"2001/03/05");
  EXPECT_EQ(month_text(march5), u"2001/03");
  EXPECT_EQ(year_text(march5), u"2001");
  EXPECT_NEAR(time_of_day(march5), 14.5 / 24, 1e-12);
  EXPECT_EQ(day_text(1462.0), u"1904/01/01");
  EXPECT_EQ(day_text(48213.0), u"2031/12/31");
  EXPECT_EQ(day_text(1e9), u"");  // beyond the calendar: no text rather than a wrong one
  EXPECT_EQ(time_of_day(1e9), 0);
}

TEST(PostMapping, SubjectFromBodyTurnsLeadingBreaksIntoDotsAndStopsAtTheNextBreak) {
  EXPECT_EQ(subject_from_body(u"\r\n\r\nShopping list\r\nmilk"), u"....Shopping list");
  EXPECT_EQ(subject_from_body(u" \t\u00A0\nHello\nworld"), u" \t\u00A0.Hello");
  EXPECT_EQ(subject_from_body(u""), u"");
  EXPECT_EQ(subject_from_body(std::u16string(100, u'a')), std::u16string(60, u'a'));
}

TEST(PostMapping, HtmlFormEscapesMarkupAndBreaksLines) {
  EXPECT_EQ(html_body(u"a < b && c > d\r\n<i>x</i>\n"),
            u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\"><HTML><BODY>"
            u"a &lt; b &amp;&amp; c &gt; d<BR>&lt;i&gt;x&lt;/i&gt;<BR></BODY></HTML>");
}

TEST(PostMapping, NoteClassIsAPrefixMatchOverTwentyOneCharacters) {
  EXPECT_TRUE(is_note_class(u"IPM.Post.ScribbixPost"));
  EXPECT_TRUE(is_note_class(u"IPM.Post.ScribbixPost2"));
  EXPECT_TRUE(is_note_class(u"IPM.Post.ScribbixPostAnything"));
  EXPECT_FALSE(is_note_class(u"IPM.Post.scribbixPost2"));
  EXPECT_FALSE(is_note_class(u"IPM.Post"));
  EXPECT_FALSE(is_note_class(u""));
}

TEST(PostMapping, KeyTextIsWholeWithoutAFraction) {
  EXPECT_EQ(key_text(42), u"42");
  EXPECT_EQ(key_text(-2147483648.0), u"-2147483648");
  EXPECT_EQ(key_text(4294967295.0), u"4294967295");
  EXPECT_EQ(key_text(0.5), u"0.5");
}

TEST(PositionIndex, PositionsMoveUpAfterRemovals) {
  PositionIndex index;
  index.assign({u"a", u"b", u"c", u"d", u"e"});
  EXPECT_EQ(index.position(u"c"), 3);
  index.remove(u"b");
  EXPECT_EQ(index.position(u"a"), 1);
  EXPECT_EQ(index.position(u"c"), 2);
  EXPECT_EQ(index.position(u"e"), 4);
  EXPECT_EQ(index.position(u"b"), std::nullopt);
  index.remove(u"e");
  index.remove(u"zzz");  // unknown: nothing moves
  EXPECT_EQ(index.position(u"d"), 3);
  index.clear();
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.position(u"a"), std::nullopt);
}

}  // namespace
}  // namespace sx::assist
