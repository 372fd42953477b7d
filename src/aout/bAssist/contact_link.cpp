#include "contact_link.h"

#include <optional>
#include <utility>

#include "scribbix/notes_folder.h"

namespace sx::assist {
namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::throw_if_failed;

// A post (class olPost) is the item that answers _PostItem; asking a proxy for an interface of
// its object costs no call into Outlook.
bool is_post(_OutlookItem* item) {
  ComPtr<_PostItem> post;
  return SUCCEEDED(item->QueryInterface(_PostItem::kIid, post.PutVoid()));
}

std::u16string trimmed(std::u16string_view text) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == 0x00A0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::u16string(text);
}

// The last and first name a contact text gives link_contact.
std::pair<std::u16string, std::u16string> contact_parts(std::u16string_view text) {
  const std::size_t comma = text.find(u',');
  return {trimmed(text.substr(0, comma)),
          comma == std::u16string_view::npos ? std::u16string() : trimmed(text.substr(comma + 1))};
}

// Whether link_contact, given `text`, finds (or makes) the contact of these names: by last and
// first name, or by company and last name.
bool names(std::u16string_view text, const std::u16string& last, const std::u16string& first,
           const std::u16string& company) {
  const auto [text_last, text_first] = contact_parts(text);
  return (text_last == last && text_first == first) ||
         (!company.empty() && text_last == company && text_first == last);
}

// The post's "ScribContact": the text its first link was made from; nothing when it has none.
std::optional<std::u16string> written_text(_OutlookItem* item) {
  ComPtr<UserProperties> properties;
  throw_if_failed(item->get_UserProperties(properties.ReleaseAndGetAddressOf()));
  ComPtr<UserProperty> property;
  throw_if_failed(
      properties->Find(Bstr(sx::com::utf8_to_u16(sx::common::kContactTextProperty)).get(),
                       sx::com::Variant().get(), property.ReleaseAndGetAddressOf()));
  if (!property) return std::nullopt;
  sx::com::Variant value;
  throw_if_failed(property->get_Value(value.put()));
  if (value.vt() != VT_BSTR) return std::nullopt;
  const BSTR text = value.get().bstrVal;
  return std::u16string(text, text != nullptr ? SysStringLen(text) : 0);
}

// Keeps `text` as the post's "ScribContact" (added, not among the folder's fields, when missing).
void keep_written_text(_OutlookItem* item, std::u16string_view text) {
  ComPtr<UserProperties> properties;
  throw_if_failed(item->get_UserProperties(properties.ReleaseAndGetAddressOf()));
  const Bstr name(sx::com::utf8_to_u16(sx::common::kContactTextProperty));
  ComPtr<UserProperty> property;
  throw_if_failed(
      properties->Find(name.get(), sx::com::Variant().get(), property.ReleaseAndGetAddressOf()));
  if (!property) {
    const sx::com::Variant omitted = sx::com::Variant::from_error(DISP_E_PARAMNOTFOUND);
    throw_if_failed(properties->Add(name.get(), olText, sx::com::Variant::from_bool(false).get(),
                                    omitted.get(), property.ReleaseAndGetAddressOf()));
  }
  throw_if_failed(property->put_Value(sx::com::Variant::from_bstr(std::u16string(text)).get()));
}

ComPtr<_ContactItem> first_match(_Items* contacts, const std::u16string& filter) {
  ComPtr<_Items> found;
  throw_if_failed(contacts->Restrict(Bstr(filter).get(), found.ReleaseAndGetAddressOf()));
  ComPtr<IDispatch> first;
  throw_if_failed(found->GetFirst(first.ReleaseAndGetAddressOf()));
  ComPtr<_ContactItem> contact;
  if (first) throw_if_failed(first.As(&contact));
  return contact;
}

}  // namespace

std::u16string quoted(std::u16string_view value) {
  std::u16string out = u"\"";
  for (const char16_t c : value) {
    if (c == u'"') out.push_back(u'"');
    out.push_back(c);
  }
  out.push_back(u'"');
  return out;
}

std::u16string linked_contact_name(_OutlookItem* item) {
  std::u16string name;
  try {
    if (item == nullptr || !is_post(item)) return name;
    ComPtr<Links> links;
    throw_if_failed(item->get_Links(links.ReleaseAndGetAddressOf()));
    LONG count = 0;
    throw_if_failed(links->get_Count(&count));
    if (count < 1) return name;
    ComPtr<Link> link;
    throw_if_failed(links->Item(sx::com::Variant::from_i4(1).get(), link.ReleaseAndGetAddressOf()));
    ComPtr<IDispatch> linked;
    throw_if_failed(link->get_Item(linked.ReleaseAndGetAddressOf()));
    ComPtr<_ContactItem> contact;
    throw_if_failed(linked.As(&contact));
    Bstr last, first, company;
    throw_if_failed(contact->get_LastName(last.put()));
    throw_if_failed(contact->get_FirstName(first.put()));
    throw_if_failed(contact->get_CompanyName(company.put()));
    if (auto written = written_text(item);
        written && names(*written, last.u16(), first.u16(), company.u16())) {
      return *written;
    }
    if (last.length() > 0) {
      name = last.u16();
      if (first.length() > 0) name += u"," + first.u16();
      return name;
    }
    name = company.length() > 0 ? company.u16() : first.u16();
  } catch (...) {
  }
  return name;
}

void link_contact(_Application* application, _NameSpace* session, _OutlookItem* item,
                  std::u16string_view text, LONG* marker) {
  *marker = kContactNotPost;
  if (!is_post(item)) return;
  *marker = kContactGettingLinks;
  ComPtr<Links> links;
  throw_if_failed(item->get_Links(links.ReleaseAndGetAddressOf()));
  *marker = kContactRemovingLink;
  LONG count = 0;
  throw_if_failed(links->get_Count(&count));
  if (count > 0) throw_if_failed(links->Remove(sx::com::Variant::from_i4(1).get()));

  *marker = kContactSearching;
  const auto [last, first] = contact_parts(text);
  if (session == nullptr) sx::com::issue_error(E_POINTER);
  ComPtr<MAPIFolder> folder;
  throw_if_failed(session->GetDefaultFolder(olFolderContacts, folder.ReleaseAndGetAddressOf()));
  ComPtr<_Items> contacts;
  throw_if_failed(folder->get_Items(contacts.ReleaseAndGetAddressOf()));
  ComPtr<_ContactItem> contact =
      first_match(contacts.Get(), first.empty() ? u"[LastName] = " + quoted(last)
                                                : u"[LastName] = " + quoted(last) +
                                                      u" AND [FirstName] = " + quoted(first));
  if (!contact) {
    contact =
        first_match(contacts.Get(), first.empty() ? u"[CompanyName] = " + quoted(last)
                                                  : u"[CompanyName] = " + quoted(last) +
                                                        u" AND [LastName] = " + quoted(first));
  }
  if (!contact) {
    *marker = kContactCreating;
    if (application == nullptr) sx::com::issue_error(E_POINTER);
    ComPtr<IDispatch> created;
    throw_if_failed(application->CreateItem(olContactItem, created.ReleaseAndGetAddressOf()));
    throw_if_failed(created.As(&contact));
    throw_if_failed(contact->put_LastName(Bstr(last).get()));
    throw_if_failed(contact->put_FirstName(Bstr(first).get()));
    *marker = kContactSaving;
    throw_if_failed(contact->Save());
  }
  *marker = kContactLinking;
  ComPtr<Link> added;
  throw_if_failed(links->Add(contact.Get(), added.ReleaseAndGetAddressOf()));
  keep_written_text(item, text);
}

}  // namespace sx::assist
