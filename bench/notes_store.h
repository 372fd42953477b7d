// Stores of note posts made directly in a store file, for benchmarks that need big folders fast:
// each post carries what a note written by the system carries (note class, subject, two-line body,
// category, times and the seven note user properties, "ScribKey" = its number).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sx/outlook/store.h"

namespace sx::bench {

using namespace sx::outlook;

inline ItemData post(int key, const char* message_class = "IPM.Post.ScribbixPost2") {
  ItemData d;
  d.set("MessageClass", Value::text_of(message_class));
  d.set("Subject", Value::text_of("Note number " + std::to_string(key)));
  d.set("Body",
        Value::text_of("Note number " + std::to_string(key) + "\r\nwith a second line of text"));
  d.set("Categories", Value::text_of("Business"));
  d.set("Sensitivity", Value::int_of(0));
  d.set("CreationTime", Value::date_of(36955.5));
  d.set("LastModificationTime", Value::date_of(36955.5));
  d.user_props = {{"ScribKey", kUserNumber, Value::number_of(key)},
                  {"EntryDate", kUserDateTime, Value::date_of(36955.5)},
                  {"Archived", kUserYesNo, Value::bool_of(false)},
                  {"Day", kUserText, Value::text_of("2001/03/05")},
                  {"Month", kUserText, Value::text_of("2001/03")},
                  {"Year", kUserText, Value::text_of("2001")},
                  {"Time", kUserDateTime, Value::date_of(0.5)}};
  return d;
}

// A store file whose root is `root_name` and whose folder "Scribbix" holds `posts` posts of
// `message_class`.
inline void make_notes_store(const std::filesystem::path& path, const char* root_name, int posts,
                             const char* message_class = "IPM.Post.ScribbixPost2") {
  std::string why;
  Store::Options o;
  o.create_if_missing = true;
  o.root_name = root_name;
  auto store = Store::open(path, o, &why);
  FolderRecord f{0,
                 format::kRootFolderId,
                 "Scribbix",
                 kPostItemType,
                 "IPM.Post.ScribbixPost2",
                 FolderRole::kNone};
  (void)store->put_folder(&f, &why);
  (void)store->change(
      [&](const StoreModel& m, std::vector<Record>* out, std::string*) {
        std::uint64_t id = m.next_item_id();
        for (int i = 1; i <= posts; ++i)
          out->push_back(ItemPutRecord{id++, f.id, post(i, message_class)});
        return true;
      },
      &why);
}

}  // namespace sx::bench
