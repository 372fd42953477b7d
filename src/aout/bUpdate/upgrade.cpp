// The upgrade of a notes folder to a newer folder definition: BeginUpdate copies the update
// store's folder into the notes store, NextUpdate carries one note at a time into it, EndUpdate
// puts it in the old folder's place.
//
// No note is lost: the old folder is removed only when every one of its notes reached the new
// folder whole (no carry failed, as many carried as it holds, the new folder holding them all).
// Otherwise EndUpdate keeps the old folder as it was, removes the incomplete new one and fails
// with kUpgradeIncomplete.
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "method_runner.h"
#include "scribbix/date_texts.h"
#include "scribbix/notes_folder.h"
#include "update1.h"

namespace sx::update {
namespace {

using sx::com::Bstr;
using sx::com::ComError;
using sx::com::throw_if_failed;
using sx::com::Variant;

constexpr char kOldClassPrefix[] = "IPM.Post.Scribbix";
constexpr char kUpdateRootName[] = "VorlanSXUpdate";
constexpr char kUpdateFolderName[] = "SXUpdate";
// The key property of the notes the upgrade carries, copied as it is.
constexpr char kEntryKeyProperty[] = "EntryKey";

LONG code(ULONG value) { return static_cast<LONG>(value); }

ComPtr<_OutlookItem> as_item(const ComPtr<IDispatch>& object) {
  ComPtr<_OutlookItem> item;
  if (object) throw_if_failed(object.As(&item));
  return item;
}

ComPtr<UserProperties> properties_of(_OutlookItem* item) {
  if (item == nullptr) object_not_set();
  ComPtr<UserProperties> properties;
  throw_if_failed(item->get_UserProperties(properties.ReleaseAndGetAddressOf()));
  return properties;
}

ComPtr<UserProperty> find_property(UserProperties* properties, const char* name) {
  if (properties == nullptr) object_not_set();
  ComPtr<UserProperty> found;
  throw_if_failed(
      properties->Find(Bstr(widen(name)).get(), Variant().get(), found.ReleaseAndGetAddressOf()));
  return found;
}

// The property `name` of `properties`, added with `type` when missing (AddToFolderFields given
// only for "Time").
ComPtr<UserProperty> find_or_add(UserProperties* properties, const char* name, LONG type,
                                 bool omit_folder_fields = true) {
  ComPtr<UserProperty> property = find_property(properties, name);
  if (property) return property;
  const Variant omitted = Variant::from_error(DISP_E_PARAMNOTFOUND);
  const Variant folder_fields = omit_folder_fields ? omitted : Variant::from_bool(false);
  throw_if_failed(properties->Add(Bstr(widen(name)).get(), type, folder_fields.get(), omitted.get(),
                                  property.ReleaseAndGetAddressOf()));
  return property;
}

Variant value_of(UserProperty* property) {
  Variant value;
  throw_if_failed(property->get_Value(value.put()));
  return value;
}

void store(UserProperty* property, const Variant& value) {
  if (property == nullptr) object_not_set();
  throw_if_failed(property->put_Value(value.get()));
}

std::u16string message_class_of(_OutlookItem* item) {
  if (item == nullptr) object_not_set();
  Bstr value;
  throw_if_failed(item->get_MessageClass(value.put()));
  return value.u16();
}

void set_message_class(_OutlookItem* item, const std::u16string& value) {
  if (item == nullptr) object_not_set();
  throw_if_failed(item->put_MessageClass(Bstr(value).get()));
}

ComPtr<_OutlookItem> copy_of(_OutlookItem* item) {
  if (item == nullptr) object_not_set();
  ComPtr<IDispatch> copy;
  throw_if_failed(item->Copy(copy.ReleaseAndGetAddressOf()));
  return as_item(copy);
}

ComPtr<_OutlookItem> move_to(_OutlookItem* item, MAPIFolder* destination) {
  if (item == nullptr) object_not_set();
  ComPtr<IDispatch> moved;
  throw_if_failed(item->Move(destination, moved.ReleaseAndGetAddressOf()));
  return as_item(moved);
}

void close(_OutlookItem* item, LONG mode) {
  if (item == nullptr) object_not_set();
  throw_if_failed(item->Close(mode));
}

LONG item_count(_Items* items) {
  if (items == nullptr) object_not_set();
  LONG n = 0;
  throw_if_failed(items->get_Count(&n));
  return n;
}

ComPtr<_Items> items_of(MAPIFolder* folder) {
  if (folder == nullptr) object_not_set();
  ComPtr<_Items> items;
  throw_if_failed(folder->get_Items(items.ReleaseAndGetAddressOf()));
  return items;
}

std::u16string text_property(_OutlookItem* item, HRESULT (_OutlookItem::*get)(BSTR*)) {
  Bstr value;
  throw_if_failed((item->*get)(value.put()));
  return value.u16();
}

std::u16string number_property(_OutlookItem* item, HRESULT (_OutlookItem::*get)(LONG*)) {
  LONG value = 0;
  throw_if_failed((item->*get)(&value));
  return widen(std::to_string(value));
}

// A property value as exact text: numbers and dates to the last bit, so that two values read the
// same only when they are the same.
std::u16string exact_text(const Variant& value) {
  if (value.vt() == VT_R8 || value.vt() == VT_DATE) {
    char text[40];
    std::snprintf(text, sizeof text, "%d:%a", value.vt(),
                  value.vt() == VT_R8 ? value.get().dblVal : value.get().date);
    return widen(text);
  }
  return widen(std::to_string(value.vt()) + ":" + value.to_utf8());
}

// Every user property of the item: name, type and value, in the item's order.
void add_user_properties(_OutlookItem* item, std::vector<std::u16string>& out) {
  ComPtr<UserProperties> properties = properties_of(item);
  if (!properties) return;
  LONG n = 0;
  throw_if_failed(properties->get_Count(&n));
  for (LONG i = 1; i <= n; ++i) {
    ComPtr<UserProperty> property;
    throw_if_failed(properties->Item(Variant::from_i4(i).get(), property.ReleaseAndGetAddressOf()));
    Bstr name;
    throw_if_failed(property->get_Name(name.put()));
    LONG type = 0;
    throw_if_failed(property->get_Type(&type));
    out.push_back(name.u16() + u"=" + widen(std::to_string(type)) + u":" +
                  exact_text(value_of(property.Get())));
  }
}

// Every link of the item: its name and the entry id of the contact it leads to (when that is in
// an open store).
void add_links(_OutlookItem* item, std::vector<std::u16string>& out) {
  ComPtr<Links> links;
  throw_if_failed(item->get_Links(links.ReleaseAndGetAddressOf()));
  if (!links) return;
  LONG n = 0;
  throw_if_failed(links->get_Count(&n));
  for (LONG i = 1; i <= n; ++i) {
    ComPtr<Link> link;
    throw_if_failed(links->Item(Variant::from_i4(i).get(), link.ReleaseAndGetAddressOf()));
    Bstr name;
    throw_if_failed(link->get_Name(name.put()));
    std::u16string target;
    ComPtr<IDispatch> contact;
    ComPtr<_OutlookItem> contact_item;
    if (SUCCEEDED(link->get_Item(contact.ReleaseAndGetAddressOf())) && contact &&
        SUCCEEDED(contact->QueryInterface(_OutlookItem::kIid, contact_item.PutVoid()))) {
      target = text_property(contact_item.Get(), &_OutlookItem::get_EntryID);
    }
    SetErrorInfo(0, nullptr);
    out.push_back(u"link:" + name.u16() + u"=" + target);
  }
}

// What a carry's copy shares with its note: everything but its times (and its entry id). Two
// posts of one key that differ in anything else (a date, the archived mark, the sensitivity, a
// link) are two notes, never a note and its copy.
std::vector<std::u16string> identity_of(_OutlookItem* item) {
  std::vector<std::u16string> identity = {
      message_class_of(item),
      text_property(item, &_OutlookItem::get_Subject),
      text_property(item, &_OutlookItem::get_Body),
      text_property(item, &_OutlookItem::get_HTMLBody),
      number_property(item, &_OutlookItem::get_BodyFormat),
      text_property(item, &_OutlookItem::get_Categories),
      number_property(item, &_OutlookItem::get_Sensitivity),
      number_property(item, &_OutlookItem::get_Importance),
      text_property(item, &_OutlookItem::get_BillingInformation),
      text_property(item, &_OutlookItem::get_Companies)};
  add_user_properties(item, identity);
  add_links(item, identity);
  return identity;
}

// The first folder of `parent` called `name`; null when there is none.
ComPtr<MAPIFolder> folder_named(MAPIFolder* parent, std::string_view name) {
  ComPtr<_Folders> folders = folders_of(parent);
  LONG n = count_of(folders.Get());
  if (n == 0) return nullptr;
  for (ComPtr<MAPIFolder> folder = first_of(folders.Get()); n > 0; --n) {
    if (named(folder.Get(), name)) return folder;
    if (n > 1) folder = next_of(folders.Get());
  }
  return nullptr;
}

// The new folder of a stopped upgrade holds copies of the notes it carried before it was stopped,
// and the notes folder beside it still holds every note (the old folder goes only when all reached
// the new one). It goes, so that no second new folder is made beside it and no copies stay behind.
// Best effort, as the removal of carry copies: a folder that cannot go stays; nothing is lost.
void remove_stopped_update_folders(MAPIFolder* root) {
  try {
    // Bounded by what the root holds, whatever Delete does.
    for (LONG left = count_of(folders_of(root).Get()); left > 0; --left) {
      ComPtr<MAPIFolder> stopped = folder_named(root, kUpdateFolderName);
      if (!stopped) return;
      throw_if_failed(stopped->Delete());
    }
  } catch (const ComError& e) {
    report(e, "RemoveStoppedUpdate: ");
  }
}

// A carry copies a note inside the old folder, then moves the copy out. An upgrade stopped between
// the two (the configuration program killed) leaves the note twice in the old folder: the copy is
// its twin in all but its times. After such an upgrade (its new folder is still there), each later
// post that an earlier post matches in everything but its times (identity_of) is such a copy and
// is deleted, so that the next upgrade carries the note once; posts without a key are never taken
// for copies. Best effort: the upgrade goes on when this fails (a copy left is carried as a second
// note; nothing is lost).
void remove_carry_twins(MAPIFolder* folder) {
  try {
    // The walk reads each post's key only; the rest is compared among posts of one key.
    ComPtr<_Items> items = items_of(folder);
    std::map<std::u16string, std::vector<ComPtr<_OutlookItem>>> by_key;
    bool repeated = false;
    ComPtr<IDispatch> next;
    throw_if_failed(items->GetFirst(next.ReleaseAndGetAddressOf()));
    while (next) {
      ComPtr<_OutlookItem> item = as_item(next);
      ComPtr<UserProperty> key =
          find_property(properties_of(item.Get()).Get(), sx::common::kKeyProperty);
      if (key) {
        auto& posts = by_key[widen(value_of(key.Get()).to_utf8())];
        repeated = repeated || !posts.empty();
        // Held until the walk ends: a later post of its key may be its copy.
        posts.push_back(item);
      }
      throw_if_failed(items->GetNext(next.ReleaseAndGetAddressOf()));
    }
    if (!repeated) return;
    for (auto& [key, posts] : by_key) {
      if (posts.size() < 2) continue;
      std::set<std::vector<std::u16string>> seen;
      for (const auto& post : posts) {
        if (!seen.insert(identity_of(post.Get())).second) throw_if_failed(post->Delete());
      }
    }
  } catch (const ComError& e) {
    report(e, "RemoveCarryTwins: ");
  }
}

}  // namespace

STDMETHODIMP Update1::BeginUpdate(VARIANT* newPst, VARIANT* newForm, LONG* result) {
  SX_COM_CHECK_THREAD();
  LONG reached = code(0x80003001u);
  return run_trapped(
      result, "BeginUpdate:",
      [&](LONG& out) {
        old_prefix_ = widen(kOldClassPrefix);
        old_prefix_length_ = static_cast<LONG>(old_prefix_.size());
        out = reached;
        new_class_ = text_of(newForm);
        upgrade_started_ = false;
        carry_failed_ = false;
        notes_to_carry_ = notes_carried_ = destination_start_count_ = 0;
        if (!namespace_) return;

        const Variant path = Variant::from_bstr(text_of(newPst));
        throw_if_failed(namespace_->AddStore(path.get()));
        out = reached = code(0x80003002u);
        ComPtr<_Folders> roots = folders_of(namespace_.Get());
        out = reached = code(0x80003003u);
        LONG n = count_of(roots.Get());
        out = reached = code(0x80003004u);
        ComPtr<MAPIFolder> old_folder;
        // The new folder of an upgrade that removed the old one and was stopped before naming it
        // (EndUpdate removes the old folder only when every note reached the new one).
        ComPtr<MAPIFolder> unnamed_new_folder;
        if (n > 0) {
          notes_root_ = first_of(roots.Get());
          out = reached = code(0x80003005u);
        }
        while (n > 0) {
          if (named(notes_root_.Get(), sx::common::kStoreRootName)) {
            ComPtr<_Folders> folders = folders_of(notes_root_.Get());
            out = reached = code(0x80003007u);
            LONG m = count_of(folders.Get());
            if (m > 0) {
              ComPtr<MAPIFolder> folder = first_of(folders.Get());
              out = reached = code(0x80003008u);
              for (; m > 0; --m) {
                if (named(folder.Get(), sx::common::kNotesFolderName)) {
                  old_folder = folder;
                  break;
                }
                if (named(folder.Get(), kUpdateFolderName)) unnamed_new_folder = folder;
                folder = next_of(folders.Get());
              }
            }
            break;  // only the first "Vorlan"
          }
          notes_root_ = next_of(roots.Get());
          out = reached = code(0x80003006u);
          --n;
        }
        if (!old_folder && unnamed_new_folder) {
          // It holds every note: it becomes the notes folder, and this upgrade carries it.
          rename(unnamed_new_folder.Get(), sx::common::kNotesFolderName);
          old_folder = unnamed_new_folder;
        }
        if (!old_folder) {
          out = reached = scribbixupdate::kNotesFolderMissing;
          return;
        }
        // A new folder of an earlier upgrade beside the notes folder: that upgrade was stopped
        // before its end, maybe inside a carry.
        if (folder_named(notes_root_.Get(), kUpdateFolderName)) {
          remove_carry_twins(old_folder.Get());
          remove_stopped_update_folders(notes_root_.Get());
        }

        out = reached = code(0x80003010u);
        roots = folders_of(namespace_.Get());
        n = count_of(roots.Get());
        out = reached = code(0x80003011u);
        ComPtr<MAPIFolder> update_folder;
        if (n > 0) {
          out = reached = code(0x80003012u);
          update_root_ = first_of(roots.Get());
          out = reached = code(0x80003013u);
        }
        while (n > 0) {
          out = reached = code(0x80003014u);
          if (named(update_root_.Get(), kUpdateRootName)) {
            out = reached = code(0x80003025u);
            ComPtr<_Folders> folders = folders_of(update_root_.Get());
            LONG m = count_of(folders.Get());
            if (m > 0) {
              out = reached = code(0x80003030u);
              ComPtr<MAPIFolder> folder = first_of(folders.Get());
              for (; m > 0; --m) {
                if (named(folder.Get(), kUpdateFolderName)) {
                  update_folder = folder;
                  break;
                }
                folder = next_of(folders.Get());
                out = reached = code(0x80003040u);
              }
            }
            break;
          }
          out = reached = code(0x80003015u);
          update_root_ = next_of(roots.Get());
          out = reached = code(0x80003020u);
          --n;
        }
        if (!update_folder) return;

        throw_if_failed(
            update_folder->CopyTo(notes_root_.Get(), destination_folder_.ReleaseAndGetAddressOf()));
        source_items_ = items_of(old_folder.Get());
        if (!source_items_) return;
        ComPtr<IDispatch> first;
        throw_if_failed(source_items_->GetFirst(first.ReleaseAndGetAddressOf()));
        current_item_ = as_item(first);
        destination_start_count_ = item_count(items_of(destination_folder_.Get()).Get());
        upgrade_started_ = true;
        out = notes_to_carry_ = item_count(source_items_.Get());
      },
      [&](const ComError&) { *result = upgrade_started_ ? notes_to_carry_ : reached; });
}

STDMETHODIMP Update1::NextUpdate(LONG* result) {
  SX_COM_CHECK_THREAD();
  bool carrying = false;
  return run_trapped(
      result, "NextUpdate:",
      [&](LONG& out) {
        out = -1;
        // Past the last note there is nothing to carry (and nothing lost).
        if (!current_item_) object_not_set();
        carrying = true;
        carry_item();
        ++notes_carried_;
        out = 0;
      },
      [&](const ComError&) {
        if (carrying) carry_failed_ = true;
        *result = -1;
      });
}

void Update1::carry_item() {
  const std::u16string message_class = message_class_of(current_item_.Get());
  ComPtr<_OutlookItem> copy = copy_of(current_item_.Get());
  ComPtr<_OutlookItem> moved;
  try {
    const bool older_note = message_class.substr(0, old_prefix_length_) == old_prefix_;
    if (message_class == new_class_) {
      moved = move_to(copy.Get(), destination_folder_.Get());
      close(copy.Get(), olDiscard);
    } else {
      if (older_note) set_message_class(copy.Get(), widen(sx::common::kPostClass));
      clean_sx_props(copy.Get());
      moved = move_to(copy.Get(), destination_folder_.Get());
      close(copy.Get(), olDiscard);
      copy_sx_props(current_item_.Get(), moved.Get());
      if (older_note) set_message_class(moved.Get(), new_class_);
    }
    close(moved.Get(), olSave);
  } catch (const ComError&) {
    // A copy that never left the old folder would be a second note there: it goes.
    if (!moved && copy) (void)copy->Delete();
    throw;
  }
  close(current_item_.Get(), olDiscard);
  ComPtr<IDispatch> next;
  throw_if_failed(source_items_->GetNext(next.ReleaseAndGetAddressOf()));
  current_item_ = as_item(next);
}

void Update1::clean_sx_props(_OutlookItem* item) {
  LONG index = 0;
  try {
    ComPtr<UserProperties> properties = properties_of(item);
    if (!properties) return;
    LONG n = 0;
    throw_if_failed(properties->get_Count(&n));
    for (index = n; index >= 1; --index) {
      ComPtr<UserProperty> property;
      throw_if_failed(
          properties->Item(Variant::from_i4(index).get(), property.ReleaseAndGetAddressOf()));
      Bstr name;
      throw_if_failed(property->get_Name(name.put()));
      const std::u16string text = name.u16();
      if (text == widen(sx::common::kDayProperty) || text == widen(sx::common::kMonthProperty) ||
          text == widen(sx::common::kYearProperty) || text == widen(sx::common::kTimeProperty)) {
        throw_if_failed(properties->Remove(index));
      }
    }
  } catch (const ComError& e) {
    carry_failed_ = true;
    report(e, "CleanSXProps:" + str(index) + ": ");
  }
}

void Update1::copy_sx_props(_OutlookItem* source, _OutlookItem* destination) {
  LONG step = 1;
  try {
    ComPtr<UserProperties> from = properties_of(source);
    ComPtr<UserProperties> to = properties_of(destination);
    step = 2;
    if (!from) return;
    step = 3;
    ComPtr<UserProperty> key = find_property(from.Get(), kEntryKeyProperty);
    step = 4;
    if (key) {
      step = 5;
      store(find_or_add(to.Get(), kEntryKeyProperty, olNumber).Get(), value_of(key.Get()));
      step = 6;
    }
    step = 7;
    ComPtr<UserProperty> archived = find_property(from.Get(), sx::common::kArchivedProperty);
    step = 8;
    if (archived) {
      store(find_or_add(to.Get(), sx::common::kArchivedProperty, olYesNo).Get(),
            value_of(archived.Get()));
      step = 9;
    }
    step = 10;
    ComPtr<UserProperty> entry_date = find_property(from.Get(), sx::common::kEntryDateProperty);
    if (!entry_date) return;
    step = 11;
    const DATE d = value_of(entry_date.Get()).to_date();
    store(find_or_add(to.Get(), sx::common::kEntryDateProperty, olDateTime).Get(),
          Variant::from_date(d));
    step = 12;
    ComPtr<UserProperty> day = find_or_add(to.Get(), sx::common::kDayProperty, olText);
    step = 13;
    store(day.Get(), Variant::from_bstr(sx::common::day_text(d)));
    step = 14;
    ComPtr<UserProperty> month = find_or_add(to.Get(), sx::common::kMonthProperty, olText);
    step = 15;
    store(month.Get(), Variant::from_bstr(sx::common::month_text(d)));
    step = 16;
    ComPtr<UserProperty> year = find_or_add(to.Get(), sx::common::kYearProperty, olText);
    step = 17;
    store(year.Get(), Variant::from_bstr(sx::common::year_text(d)));
    step = 18;
    ComPtr<UserProperty> time = find_or_add(to.Get(), sx::common::kTimeProperty, olDateTime, false);
    step = 19;
    store(time.Get(), Variant::from_date(sx::common::time_of_day(d)));
    step = 20;
  } catch (const ComError& e) {
    carry_failed_ = true;
    report(e, "CopySXProps:" + str(step) + ": ");
  }
}

bool Update1::every_note_carried() {
  if (carry_failed_ || notes_carried_ != notes_to_carry_) return false;
  // A note added to the old folder since BeginUpdate was not carried.
  if (item_count(source_items_.Get()) != notes_to_carry_) return false;
  const LONG arrived =
      item_count(items_of(destination_folder_.Get()).Get()) - destination_start_count_;
  return arrived == notes_carried_;
}

STDMETHODIMP Update1::EndUpdate(LONG* result) {
  SX_COM_CHECK_THREAD();
  if (result == nullptr) return E_POINTER;
  bool kept_old_folder = false;
  const HRESULT hr = run_untrapped([&] {
    if (notes_root_ && upgrade_started_) {
      if (every_note_carried()) {
        ComPtr<_Folders> folders = folders_of(notes_root_.Get());
        ComPtr<MAPIFolder> folder = first_of(folders.Get());
        LONG position = 1;
        while (folder && !named(folder.Get(), sx::common::kNotesFolderName)) {
          folder = next_of(folders.Get());
          ++position;
        }
        if (folder) {
          throw_if_failed(folders->Remove(position));
          if (destination_folder_) rename(destination_folder_.Get(), sx::common::kNotesFolderName);
        }
      } else {
        // The copies in the new folder are copies: the notes stay where they were.
        if (destination_folder_) throw_if_failed(destination_folder_->Delete());
        destination_folder_ = nullptr;
        kept_old_folder = true;
      }
    }
    if (namespace_) throw_if_failed(namespace_->RemoveStore(update_root_.Get()));
    *result = 0;
  });
  if (FAILED(hr)) return hr;
  if (kept_old_folder) {
    return sx::com::report_error(scribbixupdate::kUpgradeIncomplete, "ScribbixUpdate",
                                 "Not every note reached the new notes folder; the notes folder "
                                 "was kept as it was.");
  }
  return S_OK;
}

}  // namespace sx::update
