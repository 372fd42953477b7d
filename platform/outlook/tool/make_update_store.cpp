// sxmakeupdatestore OUTPUT: writes the update store template (root "VorlanSXUpdate" holding the
// folder "SXUpdate" whose default item class is "IPM.Post.ScribbixPost2"). Run by the build.
#include <cstdio>
#include <filesystem>
#include <string>

#include "sx/outlook/store.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fputs("Usage: sxmakeupdatestore OUTPUT\nWrites the update store template SXUpdate.pst.\n",
               argc == 2 ? stdout : stderr);
    return argc == 2 ? 0 : 1;
  }
  try {
    const std::filesystem::path out = argv[1];
    std::filesystem::path temp = out;
    temp += ".new";
    std::filesystem::remove(temp);
    std::string why;
    sx::outlook::Store::Options options;
    options.create_if_missing = true;
    options.root_name = "VorlanSXUpdate";
    auto store = sx::outlook::Store::open(temp, options, &why);
    sx::outlook::FolderRecord folder;
    folder.parent = sx::outlook::format::kRootFolderId;
    folder.name = "SXUpdate";
    folder.default_item_type = sx::outlook::kPostItemType;
    folder.default_message_class = "IPM.Post.ScribbixPost2";
    if (!store || !store->put_folder(&folder, &why)) {
      std::fprintf(stderr, "sxmakeupdatestore: %s\n", why.c_str());
      return 1;
    }
    store.reset();
    std::filesystem::rename(temp, out);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sxmakeupdatestore: %s\n", e.what());
    return 1;
  }
}
