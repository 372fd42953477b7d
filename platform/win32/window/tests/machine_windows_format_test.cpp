// The window entry, letter and answer files that other processes of the machine write: what the
// writers make reads back the same, and a damaged or hostile file is refused instead of misread.
#include <gtest/gtest.h>

#include "../machine_windows_format.h"

namespace sx::window::detail {
namespace {

TEST(MachineWindowsFormat, AnEntryWithLineBreaksAndBackslashesInItsTitleReadsBackTheSame) {
  const WindowEntry entry{4294967295u, "#32770", "Notes \\ of\r\nthe week\\"};
  WindowEntry read;
  ASSERT_TRUE(parse_window_entry(format_window_entry(entry), &read));
  EXPECT_EQ(read.pid, entry.pid);
  EXPECT_EQ(read.class_name, entry.class_name);
  EXPECT_EQ(read.title, entry.title);
  ASSERT_TRUE(parse_window_entry("pid 7\nclass c\ntitle", &read));  // an empty title
  EXPECT_EQ(read.title, "");
}

TEST(MachineWindowsFormat, DamagedEntriesAreRefused) {
  WindowEntry read;
  for (const char* text : {"pid x\nclass c\ntitle t\n", "pid 4294967296\nclass c\ntitle t\n",
                           "pid -1\nclass c\ntitle t\n", "pid \nclass c\ntitle t\n",
                           "pid 99999999999999999999999\nclass c\ntitle t\n", "pid 7\nclass c\n",
                           "class c\ntitle t\n", ""}) {
    EXPECT_FALSE(parse_window_entry(text, &read)) << text;
  }
}

TEST(MachineWindowsFormat, LettersReadBackTheSameAndDamagedOnesAreRefused) {
  const Letter sent{0x000010920000002cull, 0x8001, 18446744073709551615ull, -5, "4242-17"};
  Letter read;
  ASSERT_TRUE(parse_letter(format_letter(sent), &read));
  EXPECT_EQ(read.hwnd, sent.hwnd);
  EXPECT_EQ(read.msg, sent.msg);
  EXPECT_EQ(read.wparam, sent.wparam);
  EXPECT_EQ(read.lparam, sent.lparam);
  EXPECT_EQ(read.reply, sent.reply);
  for (const char* text :
       {"000010920000002c 273 -1 0\n",             // a negative wParam would wrap
        "000010920000002c 4294967296 0 0\n",       // a message number wider than 32 bits
        "000010920000002c 273 0 0 ../../etc/x\n",  // a reply name must stay in its folder
        "000010920000002c 273 0 0 17 extra\n",     // nothing after the reply
        "00001092000002c 273 0 0\n",               // 15 digits
        "+00010920000002c 273 0 0\n",              // not hex
        "000010920000002c 273 0 99999999999999999999\n", "000010920000002c 273\n", ""}) {
    EXPECT_FALSE(parse_letter(text, &read)) << text;
  }
}

TEST(MachineWindowsFormat, AnAnswerIsOneSignedNumber) {
  EXPECT_EQ(parse_answer("-1\n"), -1);
  EXPECT_EQ(parse_answer("9223372036854775807\n"), INT64_MAX);
  for (const char* text : {"", "\n", "12abc\n", "9223372036854775808\n", "- 1", "1 2"}) {
    EXPECT_EQ(parse_answer(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace sx::window::detail
