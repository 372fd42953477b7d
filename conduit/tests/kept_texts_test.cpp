// Whole HotSyncs with what people really keep in notes, against every Outlook: texts longer than
// the handheld holds, texts with characters outside the handheld's code page, contacts, a full
// category list, keys that name no note. No text is ever shortened or replaced by a copy; an edit
// on either side is never lost; what a side cannot hold whole is said once in the log.
#include <algorithm>
#include <cmath>

#include "real_outlook_fixture.h"
#include "scribbix/notes_folder.h"

namespace sx::conduit::testing {
namespace {

using KeptTextsTest = InEveryOutlook<RealOutlookRunTest>;

// A text of `lines` lines of `width` characters, each ended by a line break (CR LF on the
// desktop).
std::string lines_of(int lines, int width) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    std::string line = std::to_string(i % 100);
    line.resize(static_cast<std::size_t>(width), '.');
    text += line + "\r\n";
  }
  return text;
}

bool has_line(const Lines& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}
int lines_starting(const Lines& lines, const std::string& start) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
}

TEST_P(KeptTextsTest, ALongOutlookNoteReachesTheHandheldCutOnceSaidAndOutlookKeepsItWhole) {
  put_notes(1);
  std::string big = "Big note " + std::string(40000 - 9, 'x');
  NotesFolder().add(9300, big);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().at(9300), big.substr(0, 32767));
  EXPECT_TRUE(has_line(last_log_,
                       "The note \"Big note xxxxxxxxxxxxxxxxxxxxxxx\" in Outlook is 40000 "
                       "characters long; the handheld holds its first 32767, and Outlook keeps "
                       "the whole text."))
      << ::testing::PrintToString(last_log_);
  // Again, and with a fast sync: nothing moves, nothing is said again.
  for (int type : {eSlow, eFast}) {
    put_sync_type(type);
    ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
    EXPECT_EQ(lines_starting(last_log_, "The note \"Big note"), 0)
        << ::testing::PrintToString(last_log_);
    EXPECT_EQ(handheld_notes().at(9300), big.substr(0, 32767));
    EXPECT_EQ(PersonsFolder().body(9300), com::ansi_to_u16(big));
  }
}

TEST_P(KeptTextsTest, AHandheldNoteLongerThanTheLimitInItsCrLfFormStaysWholeOnBothSides) {
  put_notes(1);
  // 10,666 lines of two characters: 31,998 characters on the handheld, 42,664 with CR LF.
  const std::string text = lines_of(10666, 2);
  edit_text(100, text);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(PersonsFolder().body(100).size(), 42664u);
  for (int round = 0; round < 2; ++round) {
    put_sync_type(round == 0 ? eSlow : eFast);
    ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
    EXPECT_EQ(handheld_notes().at(100), text) << "round " << round;
    EXPECT_EQ(PersonsFolder().body(100).size(), 42664u) << "round " << round;
    EXPECT_EQ(lines_starting(last_log_, "The \"Note Text\" field"), 0)
        << ::testing::PrintToString(last_log_);
  }
}

TEST_P(KeptTextsTest, AnEditOfACutCopyBecomesANoteOfItsOwnAndItsArchiveMarkReachesOutlook) {
  put_notes(1);
  const std::string big = "Long plan " + std::string(40000 - 10, 'y');
  NotesFolder().add(9300, big);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  edit_text(9300, "Long plan, shortened on the handheld");
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_TRUE(has_line(last_log_,
                       "The note \"Long plan, shortened on the hand\" was changed on the "
                       "handheld, where it is not whole; the change is kept as a new note, and "
                       "the note in Outlook stays as it was."))
      << ::testing::PrintToString(last_log_);
  Folder notes = handheld_notes();
  EXPECT_EQ(notes.size(), 3u);
  EXPECT_EQ(notes.at(9300), big.substr(0, 32767));
  EXPECT_EQ(std::count_if(
                notes.begin(), notes.end(),
                [](const auto& n) { return n.second == "Long plan, shortened on the handheld"; }),
            1);
  EXPECT_EQ(PersonsFolder().body(9300), com::ansi_to_u16(big));
  // Both stay put at the next HotSync.
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes(), notes);

  // The cut copy archived on the handheld: Outlook's note is archived, whole, and stays away.
  change_handheld(9300, 0, [](NoteRecord&, sx::hotsync::PdbRecord& record) {
    record.attributes = 0x80 | 0x08;  // deleted, archive copy kept on the PC
  });
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  {
    PersonsFolder outlook;
    EXPECT_TRUE(outlook.property(9300, u"Archived").to_bool());
    EXPECT_EQ(outlook.body(9300), com::ansi_to_u16(big));
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().count(9300), 0u);
}

TEST_P(KeptTextsTest, ATextWithCharactersTheHandheldLacksIsNeverWrittenBackFromItsCopy) {
  put_notes(1);
  const std::u16string math = u"Math: \u03B1 \u2260 \u03A9 \u2192 \u65E5\u672C end";
  NotesFolder().add(9400, "placeholder");
  PersonsFolder().edit(9400, math);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().at(9400), "Math: ? ? ? ? ?? end");
  EXPECT_TRUE(has_line(last_log_,
                       "The note \"Math: ? ? ? ? ?? end\" in Outlook has characters the handheld "
                       "cannot show; they read as \"?\" there, and Outlook keeps them."))
      << ::testing::PrintToString(last_log_);
  // Only the private flag changes on the handheld: Outlook's text stays as it is.
  change_handheld(9400, 1u << 30, [](NoteRecord&, sx::hotsync::PdbRecord& record) {
    record.attributes = static_cast<std::uint8_t>(record.attributes | 0x10);
  });
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  {
    PersonsFolder outlook;
    EXPECT_EQ(outlook.body(9400), math);
    com::ComPtr<_OutlookItem> post = outlook.post(9400);
    LONG sensitivity = -1;
    ASSERT_TRUE(post);
    EXPECT_EQ(post->get_Sensitivity(&sensitivity), S_OK);
    EXPECT_EQ(sensitivity, 2);
  }
  // The text edited on the handheld: a note of its own; the original keeps its characters.
  edit_text(9400, "Math: ? ? ? ? ?? end, checked");
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(PersonsFolder().body(9400), math);
  const Folder notes = handheld_notes();
  EXPECT_EQ(notes.at(9400), "Math: ? ? ? ? ?? end");
  EXPECT_EQ(
      std::count_if(notes.begin(), notes.end(),
                    [](const auto& n) { return n.second == "Math: ? ? ? ? ?? end, checked"; }),
      1);
  EXPECT_EQ(folder(), notes);
}

TEST_P(KeptTextsTest, AnUpdateKeepsThePostItselfItsLinksAndItsEntryId) {
  put_notes(1);
  ASSERT_EQ(hotsync(), 0);
  std::u16string entry_before;
  {
    PersonsFolder outlook;
    com::ComPtr<_OutlookItem> post = outlook.post(100);
    ASSERT_TRUE(post);
    com::Bstr id;
    ASSERT_EQ(post->get_EntryID(id.put()), S_OK);
    entry_before = id.u16();
    // Two contacts linked by hand: the second is none of the note's business.
    com::ComPtr<Links> links;
    ASSERT_EQ(post->get_Links(links.ReleaseAndGetAddressOf()), S_OK);
    for (const char16_t* name : {u"First", u"Second"}) {
      com::ComPtr<IDispatch> made;
      ASSERT_EQ(outlook.application()->CreateItem(olContactItem, made.ReleaseAndGetAddressOf()),
                S_OK);
      com::ComPtr<_ContactItem> contact = made.As<_ContactItem>();
      ASSERT_EQ(contact->put_LastName(com::Bstr(name).get()), S_OK);
      ASSERT_EQ(contact->Save(), S_OK);
      com::ComPtr<Link> added;
      ASSERT_EQ(links->Add(contact.Get(), added.ReleaseAndGetAddressOf()), S_OK);
    }
    ASSERT_EQ(post->Save(), S_OK);
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(
      last_log_);  // the contact reaches the handheld
  edit_text(100, "changed on the handheld");
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  PersonsFolder outlook;
  EXPECT_EQ(outlook.posts_with(100), 1);
  com::ComPtr<_OutlookItem> post = outlook.post(100);
  ASSERT_TRUE(post);
  com::Bstr id, body;
  ASSERT_EQ(post->get_EntryID(id.put()), S_OK);
  EXPECT_EQ(id.u16(), entry_before);
  ASSERT_EQ(post->get_Body(body.put()), S_OK);
  EXPECT_EQ(body.u16(), u"changed on the handheld");
  com::ComPtr<Links> links;
  LONG count = 0;
  ASSERT_EQ(post->get_Links(links.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(links->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
}

TEST_P(KeptTextsTest, AKeyThatNamesNoNoteIsGivenAWholeKeyAndTheNoteStaysInStep) {
  put_notes(1);
  NotesFolder().add(9500, "key with a fraction");
  NotesFolder().add(9501, "key beyond 32 bits");
  {
    PersonsFolder outlook;
    outlook.set_property(9500, u"ScribKey", com::Variant::from_r8(42.5));
    outlook.set_property(9501, u"ScribKey", com::Variant::from_r8(1e10));
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  Folder notes = handheld_notes();
  ASSERT_EQ(notes.size(), 3u);
  for (double key : PersonsFolder().keys())
    EXPECT_TRUE(key == std::trunc(key) && key > 0 && key < 2147483648.0) << key;
  EXPECT_EQ(folder(), notes);
  // An edit on the handheld reaches its post; nothing churns afterwards.
  std::int32_t id = 0;
  for (const auto& [key, text] : notes) {
    if (text == "key with a fraction") id = key;
  }
  ASSERT_NE(id, 0);
  edit_text(id, "key with a fraction, edited");
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(folder().at(id), "key with a fraction, edited");
  notes = handheld_notes();
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(lines_starting(last_log_, "The "), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes(), notes);
  EXPECT_EQ(folder(), notes);
}

TEST_P(KeptTextsTest, AContactTextReadsBackAsItWasWritten) {
  put_notes(2);
  change_handheld(100, 1u << NoteRecord::kText2, [](NoteRecord& note, sx::hotsync::PdbRecord&) {
    note.text(NoteRecord::kText2).setDesktop("Doe, Jane");
  });
  change_handheld(101, 1u << NoteRecord::kText2, [](NoteRecord& note, sx::hotsync::PdbRecord&) {
    note.text(NoteRecord::kText2).setDesktop(",Bo");
  });
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
    EXPECT_EQ(lines_starting(last_log_, "The "), 0) << ::testing::PrintToString(last_log_);
  }
  for (const auto& record : read_back(kScribbixDatabase).records) {
    NoteRecord note;
    ASSERT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
    const std::string expected = note.noteId() == 100 ? "Doe, Jane" : ",Bo";
    EXPECT_EQ(note.text(NoteRecord::kText2).desktop(), expected);
  }
}

TEST_P(KeptTextsTest, ACategoryThatFindsNoRoomOnTheHandheldLeavesTheNotesCategoryAsItWas) {
  put_notes(1);
  auto db = read_back(kScribbixDatabase);
  db.app_info = std::vector<std::uint8_t>(296, 0);
  for (int i = 0; i < 16; ++i) {
    const std::string name = i == 0 ? "Unfiled" : "Cat " + std::to_string(i);
    std::copy(name.begin(), name.end(), db.app_info->begin() + 2 + 16 * i);
  }
  db.records[0].attributes = 3;  // "Cat 3"
  put_database(db);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  {
    PersonsFolder outlook;
    com::ComPtr<_OutlookItem> post = outlook.post(100);
    ASSERT_TRUE(post);
    ASSERT_EQ(post->put_Categories(com::Bstr(u"Holidays").get()), S_OK);
    ASSERT_EQ(post->Save(), S_OK);
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_TRUE(has_line(last_log_,
                       "The category \"Holidays\" of a note in Outlook does not fit on the "
                       "handheld, which has 15 categories already; the notes of that category "
                       "keep the category they had."))
      << ::testing::PrintToString(last_log_);
  EXPECT_EQ(read_back(kScribbixDatabase).records[0].attributes & 0x0F, 3);
}

INSTANTIATE_TEST_SUITE_P(Outlooks, KeptTextsTest, ::testing::ValuesIn(kOutlookKinds), kind_name);

}  // namespace
}  // namespace sx::conduit::testing
