#include "contact_link.h"

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
    if (last.length() > 0) {
      name = last.u16();
      if (first.length() > 0) name += u"," + first.u16();
      return name;
    }
    throw_if_failed(contact->get_CompanyName(company.put()));
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
  const std::size_t comma = text.find(u',');
  const std::u16string last = trimmed(text.substr(0, comma));
  const std::u16string first =
      comma == std::u16string_view::npos ? std::u16string() : trimmed(text.substr(comma + 1));
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
}

}  // namespace sx::assist
