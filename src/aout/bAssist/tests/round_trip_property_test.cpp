// A note written with NewItem reads back with ReadItem as the same values, for random notes.
#include <rapidcheck.h>

#include "com/vardate.h"
#include "component_fixture.h"

namespace sx::assist::testing {
namespace {

struct Note {
  double key = 0;
  DATE date = 0;
  std::u16string body;
  std::u16string category;
  std::u16string contact;
  LONG sense = 0;
  bool archived = false;
};

// Characters a handheld note may hold: printable ASCII, line breaks as CR LF, and the characters
// of Windows-1252 beyond ASCII.
rc::Gen<std::u16string> note_text() {
  const std::u16string upper =
      u"\u20AC\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160"
      u"\u2039\u0152\u017D\u2018\u2019\u201C\u201D\u2022\u2013\u2014"
      u"\u02DC\u2122\u0161\u203A\u0153\u017E\u0178\u00A0\u00A9\u00C4"
      u"\u00E9\u00F6\u00FC\u00DF\u00FF";
  auto piece = rc::gen::oneOf(
      rc::gen::map(rc::gen::inRange<int>(0x20, 0x7F),
                   [](int c) { return std::u16string(1, static_cast<char16_t>(c)); }),
      rc::gen::just(std::u16string(u"\r\n")),
      rc::gen::map(rc::gen::inRange<std::size_t>(0, upper.size()),
                   [upper](std::size_t i) { return std::u16string(1, upper[i]); }));
  auto joined = rc::gen::map(rc::gen::container<std::vector<std::u16string>>(piece),
                             [](const std::vector<std::u16string>& pieces) {
                               std::u16string text;
                               for (const auto& p : pieces) text += p;
                               return text;
                             });
  return rc::gen::weightedOneOf<std::u16string>({{8, joined},
                                                 {1, rc::gen::just(std::u16string())},
                                                 {1, rc::gen::just(std::u16string(32767, u'x'))}});
}

// A contact's name or company. Each note's names start with its key: a note links the contact of
// that name or company when the contacts folder has one, and the folder keeps the contacts of the
// notes written before (a note "a" would read back as the contact "a,ccc" of an earlier note).
rc::Gen<std::u16string> name(double key) {
  return rc::gen::map(
      rc::gen::container<std::string>(rc::gen::inRange('a', static_cast<char>('z' + 1))),
      [key](const std::string& s) {
        return s.empty() ? std::u16string()
                         : sx::com::utf8_to_u16(std::to_string(static_cast<int>(key)) + s);
      });
}

rc::Gen<Note> random_note(double key) {
  static const char16_t* const categories[] = {
      u"",       u"Business", u"Personal", u"Ideas", u"Shopping", u"Travel", u"Work",  u"Family",
      u"Garden", u"Recipes",  u"Books",    u"Music", u"Projects", u"Health", u"Money", u"Unfiled"};
  return rc::gen::build<Note>(
      rc::gen::set(&Note::key, rc::gen::just(key)),
      rc::gen::set(&Note::date, rc::gen::map(rc::gen::inRange<int>(0, 128 * 366 * 24 * 60),
                                             [](int minutes) {
                                               // 1 January 1904 is day 1462.
                                               return 1462.0 + minutes / 1440 +
                                                      (minutes % 1440) / 1440.0;
                                             })),
      rc::gen::set(&Note::body, note_text()),
      rc::gen::set(&Note::category,
                   rc::gen::map(rc::gen::inRange(0, 16),
                                [](int i) { return std::u16string(categories[i]); })),
      rc::gen::set(&Note::contact, rc::gen::oneOf(rc::gen::just(std::u16string()),
                                                  rc::gen::map(rc::gen::pair(name(key), name(key)),
                                                               [](const auto& p) {
                                                                 return p.first.empty()
                                                                            ? std::u16string()
                                                                        : p.second.empty()
                                                                            ? p.first
                                                                            : p.first + u"," +
                                                                                  p.second;
                                                               }))),
      rc::gen::set(&Note::sense, rc::gen::element<LONG>(0, 2)),
      rc::gen::set(&Note::archived, rc::gen::arbitrary<bool>()));
}

TEST_F(ComponentTest, NotesReadBackAsTheyWereWritten) {
  notes_folder();
  double next_key = 1;
  const auto result = rc::check([&] {
    const int n = *rc::gen::inRange(1, 4);
    std::vector<Note> notes;
    for (int i = 0; i < n; ++i) notes.push_back(*random_note(next_key++));
    RC_ASSERT(open_walk() == 0);
    for (const Note& note : notes) {
      Args a;
      a.v = {Variant::from_r8(note.key),        Variant::from_date(note.date),
             Variant::from_utf8("subject"),     Variant::from_bstr(note.body),
             Variant::from_bstr(note.category), Variant::from_bstr(note.contact),
             Variant::from_i4(note.sense),      Variant::from_i4(note.archived ? 1 : 0),
             Variant::from_i4(olFormatPlain)};
      RC_ASSERT(add(a) > 0);
    }
    RC_ASSERT(open_walk() == n);
    for (const Note& note : notes) {
      RC_ASSERT(call(&_Class1::NextItem) > 0);
      Args r;
      RC_ASSERT(read(r) == 0);
      RC_ASSERT(r.v[0].vt() == VT_R8);
      RC_ASSERT(r.v[0].to_r8() == note.key);
      RC_ASSERT(r.v[1].vt() == VT_DATE);
      RC_ASSERT(r.v[1].to_date() == note.date);
      RC_ASSERT(r.v[2].vt() == VT_DATE);
      RC_ASSERT(r.v[3].vt() == VT_DATE);
      RC_ASSERT(sx::com::bstr_to_u16(r.v[4].get().bstrVal) == note.body);
      RC_ASSERT(sx::com::bstr_to_u16(r.v[5].get().bstrVal) == note.category);
      RC_ASSERT(sx::com::bstr_to_u16(r.v[6].get().bstrVal) == note.contact);
      RC_ASSERT(r.v[7].to_i4() == note.sense);
      RC_ASSERT(r.v[8].to_bool() == note.archived);
    }
    for (const Note& note : notes) RC_ASSERT(remove(note.key) == 1);
  });
  EXPECT_TRUE(result) << "see the counterexample above";
}

}  // namespace
}  // namespace sx::assist::testing
