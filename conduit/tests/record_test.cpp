// Note records at the byte level: the handheld layout, dates, the two text forms, Mod bits, and
// damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "com/vardate.h"
#include "note_record.h"
#include "resources.h"
#include "settings.h"

namespace sx::conduit {
namespace {

double date(int y, int mo, int d, int h, int mi) {
  return *sx::com::date_from_minutes({y, mo, d, h, mi});
}

void fill(NoteRecord& note) {
  note.setMod(0x11223344);
  note.setNoteId(0x01020304);
  note.date(NoteRecord::kCreated).set(date(2003, 5, 17, 13, 45));
  note.date(NoteRecord::kDate).set(0);
  note.integer(NoteRecord::kResv1).set(-1);
  note.integer(NoteRecord::kResv2).set(0xABCD);
  note.text(NoteRecord::kText1).setDesktop("");
  note.text(NoteRecord::kText2).setDesktop("B");
  note.text(NoteRecord::kText).setDesktop("line 1\r\nline 2");
  note.category().set(7);
  note.privateFlag().setBool(true);
}

TEST(NoteRecordTest, PacksFieldsAtTheirOffsetsWithResv2AtTwentyFourAndTextsFromTwentySix) {
  NoteRecord note;
  fill(note);
  std::vector<BYTE> buffer(64, 0xCC);
  const std::size_t size = note.pack(buffer.data(), buffer.size());
  const std::vector<BYTE> expected = {0x11,
                                      0x22,
                                      0x33,
                                      0x44,  // Mod
                                      0x01,
                                      0x02,
                                      0x03,
                                      0x04,  // ID
                                      (99 << 1) | 0,
                                      (5 << 5) | 17,
                                      13,
                                      45,  // Created: 2003-05-17 13:45
                                      0,
                                      0,
                                      0,
                                      0,  // Modified: none
                                      0,
                                      0,
                                      0,
                                      0,  // Date: none
                                      0xFF,
                                      0xFF,
                                      0xFF,
                                      0xFF,  // Resv1
                                      0xAB,
                                      0xCD,  // Resv2 at 24
                                      0,     // text 7 at 26
                                      'B',
                                      0,  // text 8
                                      'l',
                                      'i',
                                      'n',
                                      'e',
                                      ' ',
                                      '1',
                                      '\n',
                                      'l',
                                      'i',
                                      'n',
                                      'e',
                                      ' ',
                                      '2',
                                      0};
  ASSERT_EQ(size, expected.size());
  EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + size), expected);
  EXPECT_EQ(buffer[size], 0xCC);
  EXPECT_EQ(note.info().m_RecSize, size);
  EXPECT_EQ(note.info().m_CatId, 7);
  EXPECT_EQ(note.info().m_Attribs & kAttrPrivate, kAttrPrivate);
}

TEST(NoteRecordTest, UnpackRoundTripsAndBuildsTheDesktopFormWithCrLf) {
  NoteRecord note;
  fill(note);
  std::vector<BYTE> buffer(64);
  const std::size_t size = note.pack(buffer.data(), buffer.size());
  NoteRecord back;
  std::string why;
  ASSERT_TRUE(back.unpack(buffer.data(), size, &why)) << why;
  EXPECT_EQ(back.noteId(), 0x01020304);
  EXPECT_EQ(back.modValue(), 0x11223344u);
  EXPECT_EQ(back.integer(NoteRecord::kResv2).value(), 0xABCD);
  EXPECT_EQ(back.text(NoteRecord::kText).handheld(), "line 1\nline 2");
  EXPECT_EQ(back.text(NoteRecord::kText).desktop(), "line 1\r\nline 2");
  EXPECT_TRUE(back.field(NoteRecord::kCreated).equals(note.field(NoteRecord::kCreated)));
  EXPECT_EQ(back.title(), "line 1\r\nline 2");
}

TEST(NoteRecordTest, GapBytesBeforeAnAlignedFieldAre0x55) {
  NoteRecord note;
  note.integer(NoteRecord::kMod).setWidth(1);  // Mod in one byte: ID still starts at 4
  note.setMod(0x7F);
  note.setNoteId(9);
  std::vector<BYTE> buffer(64, 0xCC);
  ASSERT_EQ(note.pack(buffer.data(), buffer.size()), 29u);
  EXPECT_EQ(std::vector<BYTE>(buffer.begin(), buffer.begin() + 8),
            std::vector<BYTE>({0x7F, 0x55, 0x55, 0x55, 0, 0, 0, 9}));
}

TEST(DateFieldTest, YearBitsZeroReadAsNoDateAndPrintNa) {
  DateField d(IDS_FIELD_DATE);
  const BYTE bytes[4] = {0x00, 0x21, 10, 30};  // 1 Jan 1904 10:30
  ASSERT_EQ(d.unpack(bytes, 4), 4u);
  EXPECT_EQ(d.value(), 0.0);
  EXPECT_EQ(d.logText(), "na");
  BYTE out[4] = {0xCC, 0xCC, 0xCC, 0xCC};
  EXPECT_EQ(d.pack(out, 4), 4u);
  EXPECT_EQ(std::vector<BYTE>(out, out + 4), std::vector<BYTE>({0, 0, 0, 0}));
}

TEST(DateFieldTest, EqualAtMinuteResolution) {
  DateField a(IDS_FIELD_DATE), b(IDS_FIELD_DATE);
  a.set(date(2010, 2, 28, 23, 59));
  b.set(date(2010, 2, 28, 23, 59) + 20.0 / 86400);  // 20 seconds later
  EXPECT_TRUE(a.equals(b));
  b.set(date(2010, 2, 28, 23, 58));
  EXPECT_FALSE(a.equals(b));
  EXPECT_EQ(a.logText(), "Sun Feb 28 23:59:00 2010");
}

TEST(TextFieldTest, AssignedTextIsNeverCutAndLosesItsCrs) {
  TextField t(IDS_FIELD_TEXT);
  t.setDesktop(std::string(40000, 'a'));
  EXPECT_EQ(t.desktop().size(), 40000u);
  EXPECT_TRUE(t.changed_in_memory);
  TextField copy(IDS_FIELD_TEXT);
  copy.assign(t);
  EXPECT_TRUE(copy.equals(t));
  t.setDesktop("a\r\nb\rc");
  EXPECT_EQ(t.handheld(), "a\nbc");
  EXPECT_EQ(t.logText(), "\"a\r\nb\rc\"");
}

TEST(TextFieldTest, AHandheldTextWithCrsOfItsOwnIsWrittenBackAsItWasRead) {
  const BYTE bytes[] = {'a', '\r', '\n', 'b', 0};
  TextField t(IDS_FIELD_TEXT);
  ASSERT_EQ(t.unpack(bytes, sizeof bytes), sizeof bytes);
  EXPECT_EQ(t.desktop(), "a\r\r\nb");
  EXPECT_EQ(t.packedSize(), sizeof bytes);
  BYTE out[8] = {};
  ASSERT_EQ(t.pack(out, sizeof out), sizeof bytes);
  EXPECT_EQ(std::memcmp(out, bytes, sizeof bytes), 0);
  t.setDesktop(t.desktop());  // once assigned, the handheld form is the desktop's without CRs
  EXPECT_EQ(t.handheld(), "a\nb");
}

TEST(TextFieldTest, PackIntoTooSmallRoomWritesNothing) {
  TextField t(IDS_FIELD_TEXT);
  t.setDesktop("abc");
  BYTE out[3] = {0xCC, 0xCC, 0xCC};
  EXPECT_EQ(t.pack(out, 3), 0u);
  EXPECT_EQ(out[0], 0xCC);
}

TEST(IntFieldTest, LogTextsAndNames) {
  IntField mod(IDS_FIELD_MOD, 4, true);
  mod.set(0x1F);
  EXPECT_EQ(mod.logText(), "0x0000001F");
  EXPECT_EQ(mod.displayName(), "Modified Flags");
  IntField id(IDS_FIELD_ID, 4);
  id.set(-2);
  EXPECT_EQ(id.logText(), "-2");
  std::string printed;
  id.print(&printed);
  EXPECT_EQ(printed, "4294967294");
  BoolField p(kPrivateNameId);
  p.setBool(true);
  EXPECT_EQ(p.logText(), "TRUE");
  EXPECT_EQ(p.displayName(), "Private");
  EXPECT_EQ(TextField(IDS_FIELD_TEXT1).displayName(), "");
  EXPECT_EQ(TextField(IDS_FIELD_TEXT).displayName(), "Note Text");
}

TEST(NoteRecordTest, ModBitsBecomeModifiedMarksAndModIsReset) {
  NoteRecord note;
  note.setMod((1u << 9) | (1u << 4) | 0x80000000u | 0x40000000u);
  note.clearChangedMarks();
  note.applyMod();
  for (int i = 0; i < NoteRecord::kFieldCount; ++i) {
    EXPECT_EQ(note.field(static_cast<std::size_t>(i)).modified_here, i == 4 || i == 9) << i;
  }
  EXPECT_TRUE(note.category().modified_here);
  EXPECT_TRUE(note.privateFlag().modified_here);
  EXPECT_EQ(note.modValue(), 0u);
  EXPECT_TRUE(note.field(NoteRecord::kMod).changed_in_memory);  // so it is written back
}

TEST(NoteRecordTest, ShortRecordsAndTextsWithoutNulAreRefused) {
  NoteRecord full;
  fill(full);
  std::vector<BYTE> buffer(64);
  const std::size_t size = full.pack(buffer.data(), buffer.size());
  for (std::size_t cut :
       {std::size_t{0}, std::size_t{3}, std::size_t{25}, std::size_t{26}, size - 1}) {
    NoteRecord note;
    std::string why;
    EXPECT_FALSE(note.unpack(buffer.data(), cut, &why)) << cut;
    EXPECT_FALSE(why.empty());
  }
}

TEST(NoteRecordTest, ProvisionalIdsCountDownAndAreRecognised) {
  const std::int32_t first = next_provisional_id();
  EXPECT_LE(first, -2);
  EXPECT_EQ(next_provisional_id(), first - 1);
  NoteRecord note;
  note.setNoteId(first);
  EXPECT_TRUE(note.hasProvisionalId());
  note.setNoteId(0x7FFFFFFF);
  EXPECT_FALSE(note.hasProvisionalId());
}

TEST(NoteRecordTest, ARecordTooLongForTheHandheldDoesNotPack) {
  NoteRecord note;
  note.text(NoteRecord::kText1).setDesktop(std::string(20000, 'a'));
  note.text(NoteRecord::kText).setDesktop(std::string(20000, 'b'));
  std::vector<BYTE> buffer(kRecordBufferSize, 0xCC);
  EXPECT_EQ(note.pack(buffer.data(), buffer.size()), 0u);
  EXPECT_EQ(buffer[0], 0xCC);
}

TEST(SettingsTest, SyncTypesMapToActionIndexesAndBack) {
  EXPECT_EQ(action_index_for_sync_type(0), 0);
  EXPECT_EQ(action_index_for_sync_type(1), 0);
  EXPECT_EQ(action_index_for_sync_type(3), 1);
  EXPECT_EQ(action_index_for_sync_type(2), 2);
  EXPECT_EQ(action_index_for_sync_type(4), 3);
  EXPECT_EQ(action_index_for_sync_type(5), 3);
  EXPECT_EQ(sync_type_for_action_index(0), 0);
  EXPECT_EQ(sync_type_for_action_index(1), 3);
  EXPECT_EQ(sync_type_for_action_index(2), 2);
  EXPECT_EQ(sync_type_for_action_index(3), 6);
}

TEST(ResourcesTest, StringsFillTheirPlaceholders) {
  EXPECT_EQ(format_string(IDS_WRONG_VERSION, "ScribbixDB", 3, 2),
            "The \"ScribbixDB\" database on the handheld is version 3.  The conduit can only "
            "handle version 2.  Check the Vorlan web site for the latest version.");
  EXPECT_EQ(load_string(IDS_LOGON_CANCELLED).value(), "Outlook logon candelled by user.");
  EXPECT_FALSE(load_string(4242).has_value());
}

}  // namespace
}  // namespace sx::conduit
