#include "item_stamping.h"

#include <optional>

#include "outlook_support.h"
#include "scribbix/date_texts.h"
#include "scribbix/note_key.h"
#include "scribbix/note_text.h"
#include "scribbix/notes_folder.h"

namespace sx::addin {
namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

// The earliest date a note may carry: day 100 of the automation date scale (9 April 1900).
constexpr DATE kEarliestNoteDate = 100.0;

std::optional<DATE> time_of(_OutlookItem* item, HRESULT (_OutlookItem::*get)(DATE*)) {
  DATE value = 0;
  if (FAILED((item->*get)(&value))) {
    SetErrorInfo(0, nullptr);
    return std::nullopt;
  }
  return value;
}

// The property `name` of the item, or null when it has none.
ComPtr<UserProperty> existing(UserProperties* properties, const char* name) {
  ComPtr<UserProperty> found;
  if (FAILED(properties->Find(bstr(name).get(), omitted().get(), found.GetAddressOf()))) {
    SetErrorInfo(0, nullptr);
    return nullptr;
  }
  return found;
}

// The property `name` of `type`, added when missing; null when it can be neither found nor added.
ComPtr<UserProperty> property(UserProperties* properties, const char* name, LONG type,
                              bool add_to_folder_fields = true) {
  ComPtr<UserProperty> found = existing(properties, name);
  if (found) return found;
  const Variant folder_fields = add_to_folder_fields ? omitted() : Variant::from_bool(false);
  if (FAILED(properties->Add(bstr(name).get(), type, folder_fields.get(), omitted().get(),
                             found.ReleaseAndGetAddressOf()))) {
    SetErrorInfo(0, nullptr);
    return nullptr;
  }
  return found;
}

void store(UserProperty* property, const Variant& value) {
  if (property != nullptr && FAILED(property->put_Value(value.get()))) SetErrorInfo(0, nullptr);
}

// Whether a stamp writes over what the item has (a foreign item) or only adds what it lacks (a note
// that came without its key, such as an older note moved in: its date and archived mark stay).
enum class Stamp { kOverwrite, kAddMissing };

// Stores `value` in the property `name` of `type`, added when missing; with kAddMissing a
// property the item has already is left as it is.
void put(UserProperties* properties, const char* name, LONG type, const Variant& value, Stamp how,
         bool add_to_folder_fields = true) {
  if (how == Stamp::kAddMissing && existing(properties, name)) return;
  store(property(properties, name, type, add_to_folder_fields).Get(), value);
}

// The date a note already carries in "EntryDate", when it holds one.
std::optional<DATE> entry_date_of(UserProperties* properties) {
  ComPtr<UserProperty> entry_date = existing(properties, sx::common::kEntryDateProperty);
  Variant value;
  if (!entry_date || FAILED(entry_date->get_Value(value.put()))) {
    SetErrorInfo(0, nullptr);
    return std::nullopt;
  }
  try {
    const DATE d = value.to_date();
    if (d > kEarliestNoteDate && d < kOutlookNoDate) return d;
  } catch (...) {
  }
  return std::nullopt;
}

// The date properties, a new key and "Archived" False. With kAddMissing the note's own
// "EntryDate" is its date when it holds one; otherwise the date is the earliest of its times.
void stamp_properties(_OutlookItem* item, UserProperties* properties, Stamp how) {
  std::optional<DATE> d = how == Stamp::kAddMissing ? entry_date_of(properties) : std::nullopt;
  if (!d) {
    d = note_date(time_of(item, &_OutlookItem::get_CreationTime),
                  time_of(item, &_OutlookItem::get_LastModificationTime),
                  time_of(item, &_OutlookItem::get_ReceivedTime));
    if (d) {
      store(property(properties, sx::common::kEntryDateProperty, olDateTime).Get(),
            Variant::from_date(*d));
    }
  }
  if (d) {
    put(properties, sx::common::kDayProperty, olText, Variant::from_bstr(sx::common::day_text(*d)),
        how);
    put(properties, sx::common::kMonthProperty, olText,
        Variant::from_bstr(sx::common::month_text(*d)), how);
    put(properties, sx::common::kYearProperty, olText,
        Variant::from_bstr(sx::common::year_text(*d)), how);
    put(properties, sx::common::kTimeProperty, olDateTime,
        Variant::from_date(sx::common::time_of_day(*d)), how, false);
  }
  store(property(properties, sx::common::kKeyProperty, olNumber).Get(),
        Variant::from_r8(sx::common::NextNoteKey()));
  put(properties, sx::common::kArchivedProperty, olYesNo, Variant::from_bool(false), how);
}

Bstr entry_id_of(IDispatch* object) {
  Bstr id;
  ComPtr<_OutlookItem> item;
  if (object != nullptr && SUCCEEDED(object->QueryInterface(_OutlookItem::kIid, item.PutVoid())) &&
      item && FAILED(item->get_EntryID(id.put()))) {
    SetErrorInfo(0, nullptr);
  }
  return id;
}

// Whether an item of the folder other than `item` carries `key`.
bool key_taken_elsewhere(_OutlookItem* item, _Items* folder_items, double key) {
  if (folder_items == nullptr) return false;
  const Bstr own = entry_id_of(item);
  const std::u16string filter =
      u"[" + widen(sx::common::kKeyProperty) + u"] = " + sx::common::key_text(key);
  ComPtr<IDispatch> match;
  if (FAILED(folder_items->Find(Bstr(filter).get(), match.GetAddressOf()))) {
    SetErrorInfo(0, nullptr);
    return false;
  }
  for (int seen = 0; match && seen < 100000; ++seen) {
    if (entry_id_of(match.Get()).u16() != own.u16()) return true;
    if (FAILED(folder_items->FindNext(match.ReleaseAndGetAddressOf()))) {
      SetErrorInfo(0, nullptr);
      return false;
    }
  }
  return false;
}

void stamp_foreign(_OutlookItem* item) {
  ComPtr<UserProperties> properties;
  if (FAILED(item->get_UserProperties(properties.GetAddressOf())) || !properties) {
    SetErrorInfo(0, nullptr);
    return;
  }
  stamp_properties(item, properties.Get(), Stamp::kOverwrite);
  if (FAILED(item->put_MessageClass(bstr(sx::common::kNoteClass).get()))) SetErrorInfo(0, nullptr);
  if (FAILED(item->Close(olSave))) SetErrorInfo(0, nullptr);
}

void repair_note(_OutlookItem* item, _Items* folder_items) {
  ComPtr<UserProperties> properties;
  if (SUCCEEDED(item->get_UserProperties(properties.GetAddressOf())) && properties) {
    ComPtr<UserProperty> key;
    if (SUCCEEDED(properties->Find(bstr(sx::common::kKeyProperty).get(), omitted().get(),
                                   key.GetAddressOf())) &&
        key) {
      Variant value;
      double current = 0;
      bool readable = false;
      try {
        if (SUCCEEDED(key->get_Value(value.put()))) {
          current = value.to_r8();
          readable = true;
        }
      } catch (...) {
      }
      if (readable && (current == 0 || key_taken_elsewhere(item, folder_items, current))) {
        store(key.Get(), Variant::from_r8(sx::common::NextNoteKey()));
      }
    } else {
      stamp_properties(item, properties.Get(), Stamp::kAddMissing);
    }
  }
  SetErrorInfo(0, nullptr);
  Bstr body;
  if (SUCCEEDED(item->get_Body(body.put()))) {
    const std::u16string subject = sx::common::subject_from_body(body.u16());
    if (FAILED(item->put_Subject(Bstr(subject).get()))) SetErrorInfo(0, nullptr);
  } else {
    SetErrorInfo(0, nullptr);
  }
  if (FAILED(item->Close(olSave))) SetErrorInfo(0, nullptr);
}

}  // namespace

std::optional<DATE> note_date(std::optional<DATE> created, std::optional<DATE> modified,
                              std::optional<DATE> received) {
  std::optional<DATE> d = created;
  for (const std::optional<DATE>& other : {modified, received}) {
    if (!other || *other <= kEarliestNoteDate || *other >= kOutlookNoDate) continue;
    if (!d || *other < *d) d = other;
  }
  return d;
}

void stamp_added_item(IDispatch* added, _Items* folder_items) {
  ComPtr<_OutlookItem> item;
  if (added == nullptr || FAILED(added->QueryInterface(_OutlookItem::kIid, item.PutVoid())) ||
      !item) {
    return;
  }
  Bstr message_class;
  if (FAILED(item->get_MessageClass(message_class.put()))) SetErrorInfo(0, nullptr);
  if (sx::common::is_note_class(message_class.u16())) {
    repair_note(item.Get(), folder_items);
  } else {
    stamp_foreign(item.Get());
  }
}

}  // namespace sx::addin
