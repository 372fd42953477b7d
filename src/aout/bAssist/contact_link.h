// The note's contact: the first link of a post names it. Reading gives its name; writing finds the
// contact in the default contacts folder (by last and first name, else by company), creating one
// when there is none, and links it in place of the post's first link.
// Call on the thread that holds the Outlook objects given.
#pragma once

#include <string>

#include "comdef.h"
#include "outlook/outlook.h"

namespace sx::assist {

// Progress markers of link_contact, which UpdateItem keeps as its step code.
inline constexpr LONG kContactNotPost = 262144;
inline constexpr LONG kContactGettingLinks = 65536;
inline constexpr LONG kContactRemovingLink = 131072;
inline constexpr LONG kContactSearching = 262144;
inline constexpr LONG kContactCreating = 8192;
inline constexpr LONG kContactSaving = 16384;
inline constexpr LONG kContactLinking = -32768;  // also the marker after success

// The name of the contact a post links first: the text the link was made from (the post's
// "ScribContact") while that text still names the linked contact, so that a contact text reads
// back as it was written; otherwise "Last,First" ("Last" when there is no first name), else the
// company, else the first name. "" for an item that is not a post, a post without links, or when
// Outlook fails (what was built so far is kept). Never throws.
std::u16string linked_contact_name(_OutlookItem* item);

// Links the contact named by `text` ("Last,First", or one name: a last name or a company; blanks
// around each part are dropped) to the post `item`, first removing its first link, and keeps
// `text` as the post's "ScribContact" (the post is saved by the caller). Nothing for an item that
// is not a post. Throws ComError for Outlook's failures, with *marker telling how far it got.
void link_contact(_Application* application, _NameSpace* session, _OutlookItem* item,
                  std::u16string_view text, LONG* marker);

// `value` in double quotes, with each double quote inside written twice.
std::u16string quoted(std::u16string_view value);

}  // namespace sx::assist
