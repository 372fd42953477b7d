// What the notes add-in does to every item added to the notes folder inside Outlook, so that the
// conduit finds a proper note there:
//
// - A foreign item (its message class does not begin with "IPM.Post.ScribbixPost") is stamped:
//   the note date d is the earliest of its creation, last modification and received times that
//   lie after 9 April 1900; "EntryDate" d, "Day", "Month", "Year" (its texts), "Time" (its time of
//   day), a new "ScribKey" from the shared key counter and "Archived" False are written (each
//   added when missing), the class becomes "IPM.Post.ScribbixPost2", and the item is saved. An
//   item whose user properties cannot be had is left unchanged.
// - A note keeps its class (older classes too). Its "ScribKey" is redrawn when it is 0, or when
//   another item of the folder already carries the same key (a note copied or moved in, a note
//   restored from a backup), so that no two posts of the folder share a key. A note without the
//   key property (no note form stood behind it, or an older note moved in) gets a new key and
//   only what it lacks of the stamp: what it carries ("EntryDate", "Archived", the date texts)
//   stays, and the missing date texts are made from its own "EntryDate" when it holds one. Its
//   subject is made afresh from its body, and it is saved.
//
// Every Outlook failure is swallowed: a step that fails is skipped. Outlook's thread.
#pragma once

#include <optional>

#include "comdef.h"
#include "outlook/outlook.h"

namespace sx::addin {

// `item` was added to the folder whose items are `folder_items` (used to find other items with
// the same key; may be null, and then no such search is made).
void stamp_added_item(IDispatch* item, _Items* folder_items);

// The note date of an item from its three times (kOutlookNoDate or unreadable ones left out by the
// caller as nullopt): the earliest of them after the minimum date (9 April 1900); the creation
// time when it is the only one; nullopt when none is usable.
std::optional<DATE> note_date(std::optional<DATE> created, std::optional<DATE> modified,
                              std::optional<DATE> received);

}  // namespace sx::addin
