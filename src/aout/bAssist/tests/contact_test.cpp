// The note's contact: linking by "Last,First", by company, or a new contact; reading it back.
#include "component_fixture.h"
#include "contact_link.h"

namespace sx::assist::testing {
namespace {

constexpr DATE kDate = 36955.5;

class ContactTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    notes_folder();
    open_walk();
    ComPtr<MAPIFolder> contacts;
    ASSERT_EQ(outlook()->GetDefaultFolder(olFolderContacts, contacts.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_EQ(contacts->get_Items(contacts_.ReleaseAndGetAddressOf()), S_OK);
  }
  void make_contact(const char* last, const char* first, const char* company) {
    ComPtr<IDispatch> d;
    ASSERT_EQ(contacts_->Add(Variant::from_utf8("IPM.Contact").get(), d.ReleaseAndGetAddressOf()),
              S_OK);
    ComPtr<_ContactItem> c = d.As<_ContactItem>();
    c->put_LastName(Bstr::from_utf8(last).get());
    c->put_FirstName(Bstr::from_utf8(first).get());
    c->put_CompanyName(Bstr::from_utf8(company).get());
    ASSERT_EQ(c->Save(), S_OK);
  }
  LONG contacts() {
    LONG n = 0;
    contacts_->get_Count(&n);
    return n;
  }
  // Adds a note with `contact` and reads it back through a new walk: the contact name read.
  std::string round_trip(double key, const char* contact) {
    Args a = note(key, kDate, "text");
    a.v[5] = Variant::from_utf8(contact);
    EXPECT_GT(add(a), 0) << contact;
    return contact_of(key);
  }
  std::string contact_of(double key) {
    const LONG n = open_walk();
    for (LONG i = 1; i <= n; ++i) {
      EXPECT_EQ(call(&_Class1::NextItem), i);
      Args r;
      EXPECT_EQ(read(r), 0);
      if (r.v[0].to_r8() == key) return r.v[6].to_utf8();
    }
    return "(no note)";
  }

  ComPtr<_Items> contacts_;
};

TEST_F(ContactTest, ContactIsFoundByNameThenByCompanyElseMade) {
  make_contact("Doe", "Jane", "");
  make_contact("Roe", "", "Acme");
  make_contact("", "Bo", "Initech");
  const LONG before = contacts();
  // A text reads back as it was written while it names the linked contact.
  EXPECT_EQ(round_trip(1, "Doe,Jane"), "Doe,Jane");
  EXPECT_EQ(round_trip(2, "Doe, Jane"), "Doe, Jane");  // blanks around the parts do not count
  EXPECT_EQ(round_trip(3, "Initech"), "Initech");      // no last name: by company
  EXPECT_EQ(round_trip(4, "Acme,Roe"), "Acme,Roe");    // company and last name
  EXPECT_EQ(round_trip(8, ",Bo"), ",Bo");              // the same contact as "Initech"
  EXPECT_EQ(contacts(), before);
  EXPECT_EQ(round_trip(5, "Newman"), "Newman");
  EXPECT_EQ(round_trip(6, "Quote\"d,Name"), "Quote\"d,Name");
  EXPECT_EQ(contacts(), before + 2);
  EXPECT_EQ(round_trip(7, "Newman"), "Newman");  // found now
  EXPECT_EQ(contacts(), before + 2);
}

TEST_F(ContactTest, UpdateRelinksOrUnlinksAndKeepsTheContactStepsCode) {
  make_contact("Doe", "Jane", "");
  EXPECT_EQ(round_trip(1, "Doe,Jane"), "Doe,Jane");
  open_walk();
  Args a = note(1, kDate, "text");
  a.v[5] = Variant::from_utf8("Smith,Al");
  EXPECT_EQ(update(a), 0);
  EXPECT_EQ(contact_of(1), "Smith,Al");
  // No contact given leaves the link alone, as for every other value; "" unlinks.
  open_walk();
  Args untouched = note(1, kDate, "text");
  untouched.v[5] = Variant();
  EXPECT_EQ(update(untouched), 0);
  EXPECT_EQ(contact_of(1), "Smith,Al");
  open_walk();
  Args none = note(1, kDate, "text");
  EXPECT_EQ(update(none), 0);
  EXPECT_EQ(contact_of(1), "");

  struct {
    const char* kind;
    const char* operation;
    int nth;  // the linked name is read first (Links.Count once)
    LONG code;
  } const faults[] = {{"Links", "Count", 2, kContactRemovingLink},
                      {"Items", "Restrict", 1, kContactSearching},
                      {"ContactItem", "Save", 1, kContactSaving},
                      {"Links", "Add", 1, kContactLinking}};
  for (const auto& f : faults) {
    SCOPED_TRACE(f.operation);
    open_walk();
    const int id =
        sx::outlook::inject_fault({.kind = f.kind, .operation = f.operation, .nth = f.nth});
    Args b = note(1, kDate, "text");
    b.v[5] = Variant::from_utf8(std::string("Nobody,") + f.operation);
    EXPECT_EQ(update(b), f.code);
    sx::outlook::remove_fault(id);
  }
}

}  // namespace
}  // namespace sx::assist::testing
