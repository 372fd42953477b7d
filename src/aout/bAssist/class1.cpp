#include "class1.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "contact_link.h"
#include "module_state.h"
#include "post_mapping.h"
#include "scribbix/note_key.h"
#include "scribbix/notes_folder.h"
#include "variant_args.h"

namespace sx::assist {
namespace {

using sx::com::Bstr;
using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

constexpr char kSource[] = "ScribbixOut.Class1";

Bstr bstr(const char* ascii) { return Bstr(widen(ascii)); }

// Keeps an error as this thread's error information, where a caller that sees the failure in a
// method's result finds its source and description.
void keep_error(const ComError& e) {
  sx::com::set_error_info(e.Source() != nullptr ? e.Source() : kSource,
                          e.Description() != nullptr ? e.Description() : e.ErrorMessage());
}

// Runs a method body: a null result pointer is E_POINTER; exceptions that are not Outlook's
// (memory) become the HRESULT, as the automation runtime's own failures do.
template <class Body>
HRESULT run(LONG* result, Body body) {
  if (result == nullptr) return E_POINTER;
  try {
    *result = body();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const ComError& e) {
    keep_error(e);
    return e.Error();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

ComPtr<UserProperty> find_property(UserProperties* properties, const char* name) {
  ComPtr<UserProperty> found;
  throw_if_failed(
      properties->Find(bstr(name).get(), Variant().get(), found.ReleaseAndGetAddressOf()));
  return found;
}

// Adds a user property; `add_to_folder_fields` omitted gives Outlook's default.
ComPtr<UserProperty> add_property(UserProperties* properties, const char* name, LONG type,
                                  std::optional<bool> add_to_folder_fields = std::nullopt) {
  ComPtr<UserProperty> added;
  const Variant omitted = Variant::from_error(DISP_E_PARAMNOTFOUND);
  const Variant folder_fields =
      add_to_folder_fields ? Variant::from_bool(*add_to_folder_fields) : omitted;
  throw_if_failed(properties->Add(bstr(name).get(), type, folder_fields.get(), omitted.get(),
                                  added.ReleaseAndGetAddressOf()));
  return added;
}

Variant value_of(UserProperty* property) {
  Variant value;
  throw_if_failed(property->get_Value(value.put()));
  return value;
}

void set_value(UserProperty* property, const Variant& value) {
  throw_if_failed(property->put_Value(value.get()));
}

ComPtr<_OutlookItem> as_item(const ComPtr<IDispatch>& object) {
  ComPtr<_OutlookItem> item;
  if (object) throw_if_failed(object.As(&item));
  return item;
}

// The first post of `items` in collection order whose "ScribKey" equals aKey (0 when not given);
// posts without the property never match. Null when there is none.
ComPtr<_OutlookItem> find_note(_Items* items, VARIANT* aKey) {
  const double key = given(aKey) ? number_of(aKey) : 0;
  const std::u16string filter = u"[" + widen(sx::common::kKeyProperty) + u"] = " + key_text(key);
  ComPtr<IDispatch> found;
  throw_if_failed(items->Find(Bstr(filter).get(), found.ReleaseAndGetAddressOf()));
  return as_item(found);
}

// Writes the date properties of a note date; `only_present` writes only those the post has.
void write_date_properties(UserProperties* properties, DATE date, bool only_present,
                           LONG* code = nullptr) {
  struct Entry {
    const char* name;
    LONG type;
    Variant value;
    LONG code;
  };
  const Entry entries[] = {
      {sx::common::kEntryDateProperty, olDateTime, Variant::from_date(date), 16},
      {sx::common::kDayProperty, olText, Variant::from_bstr(day_text(date)), 32},
      {sx::common::kMonthProperty, olText, Variant::from_bstr(month_text(date)), 64},
      {sx::common::kYearProperty, olText, Variant::from_bstr(year_text(date)), 128},
  };
  for (const Entry& entry : entries) {
    ComPtr<UserProperty> property = find_property(properties, entry.name);
    if (!property && !only_present) property = add_property(properties, entry.name, entry.type);
    if (property) set_value(property.Get(), entry.value);
    if (code != nullptr) *code = entry.code;
  }
  ComPtr<UserProperty> time = find_property(properties, sx::common::kTimeProperty);
  if (!time && !only_present)
    time = add_property(properties, sx::common::kTimeProperty, olDateTime, false);
  if (time) set_value(time.Get(), Variant::from_date(time_of_day(date)));
}

// Body and HTML body by the body format mode; the format the post gets afterwards.
LONG write_body(_OutlookItem* item, const std::u16string& text, LONG format) {
  const Bstr plain(text);
  if (format == 2 || format == 3) {
    throw_if_failed(item->put_Body(plain.get()));
    throw_if_failed(item->put_HTMLBody(Bstr(html_body(text)).get()));
    return format;
  }
  if (format == -1) {
    throw_if_failed(item->put_HTMLBody(Bstr(html_body(text)).get()));
    throw_if_failed(item->put_Body(plain.get()));
    return olFormatPlain;
  }
  throw_if_failed(item->put_Body(plain.get()));
  return format;
}

}  // namespace

Class1::Class1() {
  build_dispatch_table();
  object_created();
}

Class1::~Class1() { object_destroyed(); }

STDMETHODIMP Class1::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == _Class1::kIid ? S_OK : S_FALSE;
}

STDMETHODIMP Class1::IsOutlookLoaded(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&] { return session_ ? 1L : 0L; });
}

STDMETHODIMP Class1::LoadOutlook(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    try {
      CLSID clsid{};
      throw_if_failed(CLSIDFromProgID(u"Outlook.Application", &clsid));
      ComPtr<_Application> application;
      throw_if_failed(
          CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Application::kIid, application.PutVoid()));
      application_ = application;
      if (application_) {
        ComPtr<_NameSpace> session;
        throw_if_failed(
            application_->GetNamespace(bstr("MAPI").get(), session.ReleaseAndGetAddressOf()));
        session_ = session;
        Bstr version;
        throw_if_failed(application_->get_Version(version.put()));
        version_ = version.u16();
      }
      return 0;
    } catch (const ComError& e) {
      keep_error(e);
      return -1;
    }
  });
}

STDMETHODIMP Class1::UnloadOutlook(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    current_item_ = nullptr;
    items_ = nullptr;
    positions_.clear();
    notes_folder_ = nullptr;
    top_folders_ = nullptr;
    if (session_) {
      (void)session_->Logoff();
      session_ = nullptr;
    }
    application_ = nullptr;
    return 0;
  });
}

STDMETHODIMP Class1::LogonOutlook(VARIANT* vtProfile, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    try {
      const std::u16string profile = given(vtProfile) ? text_of(vtProfile) : std::u16string();
      if (!session_) sx::com::issue_error(E_POINTER);
      const bool ask = profile.empty();
      throw_if_failed(session_->Logon(Variant::from_bstr(profile).get(),
                                      Variant::from_bstr(u"").get(), Variant::from_bool(ask).get(),
                                      Variant::from_bool(true).get()));
      ComPtr<_Folders> folders;
      throw_if_failed(session_->get_Folders(folders.ReleaseAndGetAddressOf()));
      top_folders_ = folders;
      return 0;
    } catch (const ComError& e) {
      keep_error(e);
      return -1;
    }
  });
}

STDMETHODIMP Class1::GetScribbixFolder(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    LONG found = -1;
    try {
      if (top_folders_) {
        found = scribbixout::kFolderNotFound;
        LONG count = 0;
        throw_if_failed(top_folders_->get_Count(&count));
        ComPtr<MAPIFolder> root;
        for (LONG i = 0; i < count; ++i) {
          throw_if_failed(i == 0 ? top_folders_->GetFirst(root.ReleaseAndGetAddressOf())
                                 : top_folders_->GetNext(root.ReleaseAndGetAddressOf()));
          if (!root) break;
          Bstr name;
          throw_if_failed(root->get_Name(name.put()));
          if (name.u16() != widen(sx::common::kStoreRootName)) continue;
          // The first root of that name is the only one searched.
          ComPtr<_Folders> children;
          throw_if_failed(root->get_Folders(children.ReleaseAndGetAddressOf()));
          LONG child_count = 0;
          throw_if_failed(children->get_Count(&child_count));
          ComPtr<MAPIFolder> child;
          for (LONG j = 0; j < child_count; ++j) {
            throw_if_failed(j == 0 ? children->GetFirst(child.ReleaseAndGetAddressOf())
                                   : children->GetNext(child.ReleaseAndGetAddressOf()));
            if (!child) break;
            Bstr child_name;
            throw_if_failed(child->get_Name(child_name.put()));
            if (child_name.u16() == widen(sx::common::kNotesFolderName)) {
              notes_folder_ = child;
              found = 0;
              break;
            }
          }
          break;
        }
      }
    } catch (const ComError& e) {
      keep_error(e);
      found = -1;
    }
    if (found != 0) notes_folder_ = nullptr;
    return found;
  });
}

STDMETHODIMP Class1::BeginItem(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    item_index_ = 0;
    current_item_ = nullptr;
    try {
      if (!notes_folder_) sx::com::issue_error(E_POINTER);
      ComPtr<_Items> items;
      throw_if_failed(notes_folder_->get_Items(items.ReleaseAndGetAddressOf()));
      items_ = items;
      positions_.clear();
      LONG count = 0;
      if (items_) throw_if_failed(items_->get_Count(&count));
      return count;
    } catch (const ComError& e) {
      keep_error(e);
      return -1;
    }
  });
}

STDMETHODIMP Class1::NextItem(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    try {
      if (current_item_) {
        // The item goes either way: one that cannot be closed is of no further use.
        const ComPtr<_OutlookItem> previous = std::move(current_item_);
        current_item_ = nullptr;
        throw_if_failed(previous->Close(olDiscard));
      }
      if (item_index_ >= 0) {
        if (!items_) sx::com::issue_error(E_POINTER);
        ComPtr<IDispatch> fetched;
        throw_if_failed(item_index_ == 0 ? items_->GetFirst(fetched.ReleaseAndGetAddressOf())
                                         : items_->GetNext(fetched.ReleaseAndGetAddressOf()));
        current_item_ = as_item(fetched);
      }
      item_index_ = current_item_ ? item_index_ + 1 : -1;
      return item_index_;
    } catch (const ComError& e) {
      keep_error(e);
      return -1;
    }
  });
}

STDMETHODIMP Class1::EndItem(LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    item_index_ = -1;
    current_item_ = nullptr;
    items_ = nullptr;
    positions_.clear();
    return 0;
  });
}

STDMETHODIMP Class1::ReadItem(VARIANT* aKey, VARIANT* aDate, VARIANT* aCreate, VARIANT* aModify,
                              VARIANT* aBody, VARIANT* aCategory, VARIANT* aContact,
                              VARIANT* aSense, VARIANT* aFlag, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&] {
    return read_item(aKey, aDate, aCreate, aModify, aBody, aCategory, aContact, aSense, aFlag);
  });
}

LONG Class1::read_item(VARIANT* aKey, VARIANT* aDate, VARIANT* aCreate, VARIANT* aModify,
                       VARIANT* aBody, VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense,
                       VARIANT* aFlag) {
  if (!current_item_) {
    sx::com::set_error_info(kSource, "There is no current item to read.");
    return -1 - 128;
  }
  const ComPtr<_OutlookItem> item = std::move(current_item_);
  current_item_ = nullptr;
  LONG step = 2;
  bool written = false;
  LONG failed = 0;
  std::optional<ComError> error;
  try {
    Bstr subject, body, categories;
    LONG sensitivity = 0;
    throw_if_failed(item->get_Subject(subject.put()));
    throw_if_failed(item->get_Body(body.put()));
    throw_if_failed(item->get_Categories(categories.put()));
    throw_if_failed(item->get_Sensitivity(&sensitivity));
    put(aBody, Variant::from_bstr(body.u16()));
    put(aCategory, Variant::from_bstr(categories.u16()));
    put(aSense, Variant::from_i4(sensitivity));

    step = 3;
    DATE created = 0, modified = 0;
    throw_if_failed(item->get_CreationTime(&created));
    step = 4;
    throw_if_failed(item->get_LastModificationTime(&modified));
    DATE date = created;
    put(aCreate, Variant::from_date(created));
    put(aModify, Variant::from_date(modified));
    if (modified > 0 && modified < date) date = modified;

    step = 5;
    ComPtr<UserProperties> properties;
    throw_if_failed(item->get_UserProperties(properties.ReleaseAndGetAddressOf()));
    ComPtr<UserProperty> key = find_property(properties.Get(), sx::common::kKeyProperty);
    if (!key) {
      key = add_property(properties.Get(), sx::common::kKeyProperty, olNumber);
      written = true;
    }
    double key_value = value_of(key.Get()).to_r8();
    // A key that is no whole note ID (a fraction, or beyond 32 bits) is found by no search for the
    // note it reads as: the post would never be updated or deleted. It is keyed afresh, as a post
    // without a key is.
    if (!sx::common::is_note_key(key_value)) {
      key_value = sx::common::NextNoteKey();
      set_value(key.Get(), Variant::from_r8(key_value));
      written = true;
    }
    put(aKey, Variant::from_r8(key_value));

    step = 6;
    ComPtr<UserProperty> archived = find_property(properties.Get(), sx::common::kArchivedProperty);
    if (!archived) {
      archived = add_property(properties.Get(), sx::common::kArchivedProperty, olYesNo);
      set_value(archived.Get(), Variant::from_bool(false));
      written = true;
    }
    put(aFlag, value_of(archived.Get()));

    step = 8;
    ComPtr<UserProperty> entry = find_property(properties.Get(), sx::common::kEntryDateProperty);
    if (!entry) {
      // The received time only counts for a post without an entry date, so only such a post is
      // asked for it: a walk over stamped posts saves one call into Outlook per post.
      DATE received = 0;
      if (SUCCEEDED(item->get_ReceivedTime(&received)) && received > 0 && received < date)
        date = received;
      SetErrorInfo(0, nullptr);  // a missing received time is no failure
      entry = add_property(properties.Get(), sx::common::kEntryDateProperty, olDateTime);
      set_value(entry.Get(), Variant::from_date(date));
      written = true;
    }
    date = value_of(entry.Get()).to_date();
    put(aDate, Variant::from_date(date));

    const struct {
      LONG step;
      const char* name;
      std::u16string text;
    } texts[] = {{10, sx::common::kDayProperty, day_text(date)},
                 {12, sx::common::kMonthProperty, month_text(date)},
                 {14, sx::common::kYearProperty, year_text(date)}};
    for (const auto& t : texts) {
      step = t.step;
      if (!find_property(properties.Get(), t.name)) {
        ComPtr<UserProperty> added = add_property(properties.Get(), t.name, olText);
        set_value(added.Get(), Variant::from_bstr(t.text));
        written = true;
      }
    }

    // A post that cannot take its time property is still read.
    try {
      step = 16;
      if (!find_property(properties.Get(), sx::common::kTimeProperty)) {
        step = 17;
        ComPtr<UserProperty> time =
            add_property(properties.Get(), sx::common::kTimeProperty, olDateTime);
        written = true;
        step = 18;
        set_value(time.Get(), Variant::from_date(time_of_day(date)));
      }
    } catch (const ComError&) {
      SetErrorInfo(0, nullptr);
    }

    step = 19;
    if (subject.length() < 2) {
      const std::u16string repaired = subject_from_body(body.u16());
      step = 20;
      throw_if_failed(item->put_Subject(Bstr(repaired).get()));
      written = true;
    }

    step = 21;
    put(aContact, Variant::from_bstr(linked_contact_name(item.Get())));

    step = 30;
    Bstr message_class;
    throw_if_failed(item->get_MessageClass(message_class.put()));
    if (!is_note_class(message_class.u16())) {
      throw_if_failed(item->put_MessageClass(bstr(sx::common::kNoteClass).get()));
      written = true;
    }
  } catch (const ComError& e) {
    error = e;
    failed = step;
  }
  LONG result = -failed;
  // Saved only when something was written: a post stamped before is not saved again. A stamp that
  // failed half-way is dropped whole: the post stays as it was (a half-made "EntryDate" would be
  // Outlook's empty date for good), and its next reading stamps it again.
  try {
    throw_if_failed(item->Close(written && !error ? olSave : olDiscard));
  } catch (const ComError& e) {
    if (!error) error = e;
    result -= 128;
  }
  if (error) keep_error(*error);
  return result;
}

STDMETHODIMP Class1::NewItem(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                             VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                             VARIANT* aFormat, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&] {
    return new_item(aKey, aDate, aSubject, aBody, aCategory, aContact, aSense, aFlag, aFormat);
  });
}

LONG Class1::new_item(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                      VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                      VARIANT* aFormat) {
  if (!items_) {
    sx::com::set_error_info(kSource, "No item collection is open.");
    return -1;
  }
  std::uint32_t mask = 0;
  ComPtr<_OutlookItem> item;
  try {
    const LONG format = given(aFormat) ? long_of(aFormat) : LONG{olFormatPlain};
    ComPtr<IDispatch> added;
    throw_if_failed(items_->Add(Variant::from_bstr(widen(sx::common::kPostClass)).get(),
                                added.ReleaseAndGetAddressOf()));
    item = as_item(added);
    if (!item) sx::com::issue_error(E_NOINTERFACE);
    mask += 0x1000000;
    throw_if_failed(item->put_MessageClass(bstr(sx::common::kNoteClass).get()));
    mask += 0x2000000;
    if (given(aSubject)) throw_if_failed(item->put_Subject(Bstr(text_of(aSubject)).get()));
    mask += 0x100000;
    LONG body_format = format;
    if (given(aBody)) body_format = write_body(item.Get(), text_of(aBody), format);
    mask += 0x200000;
    if (format != 2 && format != 3 && format != -1) {
      Bstr read_back;
      throw_if_failed(item->get_Body(read_back.put()));
      mask += read_back.length();
    }
    if (given(aCategory)) throw_if_failed(item->put_Categories(Bstr(text_of(aCategory)).get()));
    mask += 0x400000;
    if (given(aContact)) {
      const std::u16string contact = text_of(aContact);
      LONG marker = 0;
      if (!contact.empty())
        link_contact(application_.Get(), session_.Get(), item.Get(), contact, &marker);
    }
    if (given(aSense) && long_of(aSense) != -1)
      throw_if_failed(item->put_Sensitivity(long_of(aSense)));
    mask += 0x800000;
    // Adding a property the post has already gives that property, and a new post has none: no
    // need to look for them first.
    ComPtr<UserProperties> properties;
    throw_if_failed(item->get_UserProperties(properties.ReleaseAndGetAddressOf()));
    mask += 0x4000000;
    if (given(aKey) && number_of(aKey) != 0) {
      ComPtr<UserProperty> key = add_property(properties.Get(), sx::common::kKeyProperty, olNumber);
      set_value(key.Get(), Variant::from_r8(number_of(aKey)));
    }
    mask += 0x80000;
    const DATE date = given(aDate) ? date_of(aDate) : 0;
    if (date != 0) {
      ComPtr<UserProperty> entry =
          add_property(properties.Get(), sx::common::kEntryDateProperty, olDateTime);
      set_value(entry.Get(), Variant::from_date(date));
      mask += 0x10000;
      for (const auto& [name, text] : {std::pair{sx::common::kDayProperty, day_text(date)},
                                       std::pair{sx::common::kMonthProperty, month_text(date)},
                                       std::pair{sx::common::kYearProperty, year_text(date)}}) {
        ComPtr<UserProperty> property = add_property(properties.Get(), name, olText);
        set_value(property.Get(), Variant::from_bstr(text));
      }
      ComPtr<UserProperty> time =
          add_property(properties.Get(), sx::common::kTimeProperty, olDateTime, false);
      set_value(time.Get(), Variant::from_date(time_of_day(date)));
      mask += 0x20000;
    } else {
      mask += 0x10000 + 0x20000;
    }
    if (given(aFlag) && long_of(aFlag) != -1) {
      ComPtr<UserProperty> archived =
          add_property(properties.Get(), sx::common::kArchivedProperty, olYesNo);
      set_value(archived.Get(), Variant::from_bool(long_of(aFlag) != 0));
    }
    mask += 0x40000;
    if (FAILED(item->put_BodyFormat(body_format))) SetErrorInfo(0, nullptr);
    throw_if_failed(item->Close(olSave));
    item = nullptr;
    mask += 0x8000000;
  } catch (const ComError& e) {
    keep_error(e);
    item = nullptr;  // released unsaved
    mask += static_cast<std::uint32_t>(e.Error()) & 0xF000FFFFu;
  }
  return static_cast<LONG>(mask);
}

STDMETHODIMP Class1::UpdateItem(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                                VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense,
                                VARIANT* aFlag, VARIANT* aFormat, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&] {
    return update_item(aKey, aDate, aSubject, aBody, aCategory, aContact, aSense, aFlag, aFormat);
  });
}

LONG Class1::update_item(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                         VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                         VARIANT* aFormat) {
  if (!items_) return 0;
  LONG code = 0;
  try {
    const ComPtr<_OutlookItem> item = find_note(items_.Get(), aKey);
    if (!item) return 0;
    code = 1;
    const LONG format = given(aFormat) ? long_of(aFormat) : LONG{olFormatPlain};
    if (given(aSubject)) throw_if_failed(item->put_Subject(Bstr(text_of(aSubject)).get()));
    LONG body_format = format == -1 ? LONG{olFormatPlain} : format;
    if (given(aBody)) body_format = write_body(item.Get(), text_of(aBody), format);
    code = 2;
    if (given(aCategory)) throw_if_failed(item->put_Categories(Bstr(text_of(aCategory)).get()));
    code = 4;
    // Not given (Empty or Null) leaves the link alone, as for the other values; "" removes it.
    const std::u16string contact = given(aContact) ? text_of(aContact) : std::u16string();
    if (!given(aContact)) {
    } else if (contact.empty()) {
      ComPtr<Links> links;
      throw_if_failed(item->get_Links(links.ReleaseAndGetAddressOf()));
      LONG count = 0;
      throw_if_failed(links->get_Count(&count));
      if (count > 0) throw_if_failed(links->Remove(Variant::from_i4(1).get()));
    } else if (!sx::common::same_contact_text(linked_contact_name(item.Get()), contact)) {
      link_contact(application_.Get(), session_.Get(), item.Get(), contact, &code);
    }
    if (given(aSense) && long_of(aSense) != -1) {
      throw_if_failed(item->put_Sensitivity(long_of(aSense)));
      code = 8;
    }
    const DATE date = given(aDate) ? date_of(aDate) : 0;
    ComPtr<UserProperties> properties;
    throw_if_failed(item->get_UserProperties(properties.ReleaseAndGetAddressOf()));
    if (date != 0) write_date_properties(properties.Get(), date, true, &code);
    if (given(aFlag) && long_of(aFlag) != -1) {
      ComPtr<UserProperty> archived =
          find_property(properties.Get(), sx::common::kArchivedProperty);
      code = 256;
      if (archived) set_value(archived.Get(), Variant::from_bool(long_of(aFlag) != 0));
      code = 512;
    }
    code = 1024;
    if (FAILED(item->put_BodyFormat(body_format))) SetErrorInfo(0, nullptr);
    code = 2048;
    throw_if_failed(item->Close(olSave));
    return 0;
  } catch (const ComError& e) {
    keep_error(e);
    // A search that failed before any post was found would give 0, which reads as success: the
    // caller would take a change that never reached Outlook as written.
    return code == 0 ? -1 : code;
  }
}

STDMETHODIMP Class1::DeleteItem(VARIANT* aKey, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&] { return delete_item(aKey); });
}

LONG Class1::delete_item(VARIANT* aKey) {
  if (!items_) {
    sx::com::set_error_info(kSource, "No item collection is open.");
    return -1;
  }
  try {
    // The first post in collection order whose key equals aKey; posts without a key are passed
    // over (one made by hand ahead of the note must not keep the note from being deleted).
    const ComPtr<_OutlookItem> item = find_note(items_.Get(), aKey);
    if (!item) return 0;
    Bstr entry_id;
    throw_if_failed(item->get_EntryID(entry_id.put()));
    const std::u16string id = entry_id.u16();
    const LONG position = position_of(id);
    if (position == 0) return 0;
    throw_if_failed(items_->Remove(position));
    positions_.remove(id);
    return position;
  } catch (const ComError& e) {
    // 0 says that no post has the key: a failure must not read as a delete with nothing to do.
    keep_error(e);
    return -1;
  }
}

LONG Class1::position_of(const std::u16string& entry_id) {
  auto holds = [&](LONG position) {
    ComPtr<IDispatch> at;
    if (FAILED(items_->Item(Variant::from_i4(position).get(), at.ReleaseAndGetAddressOf()))) {
      SetErrorInfo(0, nullptr);
      return false;
    }
    const ComPtr<_OutlookItem> item = as_item(at);
    Bstr id;
    return item && SUCCEEDED(item->get_EntryID(id.put())) && id.u16() == entry_id;
  };
  if (auto known = positions_.position(entry_id); known && holds(*known)) return *known;
  // The collection changed behind the positions known (or none are known yet): walk it once.
  std::vector<std::u16string> ids;
  ComPtr<IDispatch> next;
  throw_if_failed(items_->GetFirst(next.ReleaseAndGetAddressOf()));
  while (next) {
    const ComPtr<_OutlookItem> item = as_item(next);
    Bstr id;
    throw_if_failed(item->get_EntryID(id.put()));
    ids.push_back(id.u16());
    throw_if_failed(items_->GetNext(next.ReleaseAndGetAddressOf()));
  }
  positions_.assign(ids);
  return positions_.position(entry_id).value_or(0);
}

STDMETHODIMP Class1::OutlookVersionString(VARIANT* aRest, LONG* result) {
  SX_COM_CHECK_THREAD();
  return run(result, [&]() -> LONG {
    put(aRest, Variant::from_bstr(version_));
    std::string digits;
    for (const char16_t c : version_) {
      if (c < u'0' || c > u'9' || digits.size() >= 9) break;
      digits.push_back(static_cast<char>(c));
    }
    return digits.empty() ? 0 : std::atol(digits.c_str());
  });
}

}  // namespace sx::assist
