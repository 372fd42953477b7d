// `sxmachine view` as a browser meets it: who is let in, where it listens, and what the page's
// requests do to the machine, read back with the system's own tools.
#include <fstream>
#include <sstream>

#include "view_fixture.h"

namespace sx::machine_view::testing {
namespace {

using nlohmann::json;

TEST_F(ViewTest, RefusesRequestsWithoutItsTokenFromAnotherHostOrFromAnotherPage) {
  auto c = client();
  const std::string token = view_->token();
  const std::string own = "http://127.0.0.1:" + std::to_string(view_->port());
  // Allowed: the token in the address or in the header, with the page's own origin or none.
  EXPECT_EQ(c.Get("/?token=" + token)->status, 200);
  EXPECT_EQ(c.Get("/api/state", {{"X-Sx-Token", token}, {"Origin", own}})->status, 200);

  EXPECT_EQ(c.Get("/")->status, 403);
  EXPECT_EQ(c.Get("/api/state")->status, 403);
  EXPECT_EQ(c.Get("/?token=")->status, 403);
  EXPECT_EQ(c.Get("/?token=" + token.substr(0, 31))->status, 403);
  std::string wrong = token;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  EXPECT_EQ(c.Get("/?token=" + wrong)->status, 403);
  EXPECT_EQ(c.Get("/api/state", {{"X-Sx-Token", token}, {"Origin", "http://example.com"}})->status,
            403);
  EXPECT_EQ(c.Get("/api/state", {{"X-Sx-Token", token}, {"Origin", "null"}})->status, 403);
  // A name that another site points at 127.0.0.1 gets nothing either.
  EXPECT_EQ(c.Get("/api/state", {{"X-Sx-Token", token}, {"Host", "example.com"}})->status, 403);

  // A refused change changes nothing.
  auto res = c.Post("/api/do", {{"X-Sx-Token", token}, {"Origin", "http://example.com"}},
                    R"({"side":"handheld","action":"new","text":"forged"})", "application/json");
  EXPECT_EQ(res->status, 403);
  EXPECT_TRUE(handheld_texts(state()).empty());
}

TEST_F(ViewTest, ListensOnTheLoopbackAddressAlone) {
  // Every listening socket of the port, as the kernel lists them: local address 127.0.0.1.
  char port_hex[8];
  std::snprintf(port_hex, sizeof port_hex, ":%04X", view_->port());
  int found = 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, st;
      fields >> slot >> local >> remote >> st;
      if (st != "0A" || local.size() < 5 || local.substr(local.size() - 5) != port_hex) continue;
      ++found;
      EXPECT_EQ(local, std::string("0100007F") + port_hex) << table;
    }
  }
  EXPECT_EQ(found, 1);
  EXPECT_EQ(view_->stop(), 0);
}

TEST_F(ViewTest, ThePagesChangesReachBothSidesThroughTheSystemsPrograms) {
  // The handheld: new, edit, archive, delete through the notes application.
  EXPECT_TRUE(ask({{"side", "handheld"}, {"action", "new"}, {"text", "Buy milk"},
                   {"category", "Business"}})["ok"]);
  EXPECT_TRUE(ask({{"side", "handheld"}, {"action", "new"}, {"text", "Old plan"}})["ok"]);
  json s = state();
  ASSERT_EQ(handheld_texts(s), (std::vector<std::string>{"Buy milk", "Old plan"}));
  const auto milk = s["handheld"]["notes"][0]["record_id"].get<int>();
  const auto plan = s["handheld"]["notes"][1]["record_id"].get<int>();
  EXPECT_EQ(s["handheld"]["notes"][0]["category"], "Business");
  EXPECT_TRUE(ask({{"side", "handheld"}, {"action", "edit"}, {"record", milk},
                   {"text", "Buy oat milk"}})["ok"]);
  EXPECT_TRUE(ask({{"side", "handheld"}, {"action", "archive"}, {"record", plan}})["ok"]);
  // What the notes application itself says now.
  ToolResult listed = run_program(SXMACHINE_PATH, {"--machine", sx::machine::root().string(),
                                                   "handheld", kUser, "list", "--all"});
  EXPECT_NE(listed.output.find("Buy oat milk"), std::string::npos) << listed.output;
  s = state();
  EXPECT_EQ(handheld_texts(s), std::vector<std::string>{"Buy oat milk"});
  EXPECT_TRUE(s["handheld"]["notes"][1]["archived"].get<bool>());
  // A refusal of the application comes back in its words, and nothing changes.
  json refused = ask({{"side", "handheld"}, {"action", "delete"}, {"record", plan}});
  EXPECT_FALSE(refused["ok"]);
  EXPECT_FALSE(refused["message"].get<std::string>().empty());
  EXPECT_FALSE(ask({{"side", "handheld"}, {"action", "new"}, {"text", "x"},
                    {"category", "No such"}})["ok"]);

  // Outlook: add, edit, delete through sxfolders.
  EXPECT_TRUE(ask({{"side", "outlook"}, {"action", "add"}, {"body", "Call Ana\nabout June"},
                   {"categories", "Personal"}})["ok"]);
  EXPECT_TRUE(ask({{"side", "outlook"}, {"action", "add"}, {"body", "Gone soon"}})["ok"]);
  s = state();
  ASSERT_EQ(post_bodies(s), (std::vector<std::string>{"Call Ana\nabout June", "Gone soon"}));
  EXPECT_EQ(s["outlook"]["posts"][0]["subject"], "Call Ana");
  const std::string call = s["outlook"]["posts"][0]["entry_id"];
  const std::string gone = s["outlook"]["posts"][1]["entry_id"];
  EXPECT_TRUE(ask({{"side", "outlook"}, {"action", "edit"}, {"entry_id", call},
                   {"body", "Call Ana on Monday"}})["ok"]);
  EXPECT_TRUE(ask({{"side", "outlook"}, {"action", "delete"}, {"entry_id", gone}})["ok"]);
  ToolResult items = run_program(SXFOLDERS_PATH, {"--machine", sx::machine::root().string(),
                                                  "items", "Vorlan\\Scribbix"});
  EXPECT_NE(items.output.find("Call Ana on Monday"), std::string::npos) << items.output;
  EXPECT_EQ(items.output.find("Gone soon"), std::string::npos) << items.output;
  json missing = ask({{"side", "outlook"}, {"action", "delete"}, {"entry_id", gone}});
  EXPECT_FALSE(missing["ok"]);
  // Texts that look like options stay texts; an empty text empties the field.
  EXPECT_TRUE(ask({{"side", "outlook"}, {"action", "edit"}, {"entry_id", call},
                   {"body", "--machine /elsewhere"}, {"categories", ""}})["ok"]);
  s = state();
  EXPECT_EQ(post_bodies(s), std::vector<std::string>{"--machine /elsewhere"});
  EXPECT_EQ(s["outlook"]["posts"][0]["categories"], "");
}

TEST_F(ViewTest, RequestsThatAreNotThePagesShapesAreRefusedWithAReason) {
  for (const char* body :
       {"", "not json", "[]", R"({"side":"handheld"})", R"({"side":"disk","action":"new"})",
        R"({"side":"handheld","action":"new"})", R"({"side":"handheld","action":"edit"})",
        R"({"side":"handheld","action":"delete","record":0})",
        R"({"side":"handheld","action":"delete","record":"7"})",
        R"({"side":"handheld","action":"new","text":5})",
        R"({"side":"outlook","action":"delete","entry_id":"../../registry.reg"})",
        R"({"side":"outlook","action":"archive","entry_id":"AB"})"}) {
    auto c = client();
    auto res = c.Post("/api/do", with_token(), body, "application/json");
    ASSERT_TRUE(res) << body;
    EXPECT_EQ(res->status, 400) << body;
    const json answer = json::parse(res->body, nullptr, false);
    EXPECT_FALSE(answer["message"].get<std::string>().empty()) << body;
  }
  // A body larger than the server takes is refused before it is read.
  auto c = client();
  const std::string huge = R"({"side":"handheld","action":"new","text":")" +
                           std::string(300 * 1024, 'x') + "\"}";
  EXPECT_EQ(c.Post("/api/do", with_token(), huge, "application/json")->status, 413);
  EXPECT_TRUE(handheld_texts(state()).empty());
}

TEST_F(ViewTest, EventsBringAChangeMadeByAnotherProgram) {
  auto c = client();
  std::string received;
  bool saw_note = false, changed = false;
  std::thread writer;
  c.Get("/api/events", with_token(), [&](const char* data, std::size_t n) {
    received.append(data, n);
    // The first event is the state as it is; then a person writes a note with the tool.
    if (!changed && received.find("\n\n") != std::string::npos) {
      changed = true;
      writer = std::thread([] {
        run_program(SXMACHINE_PATH, {"--machine", sx::machine::root().string(), "handheld",
                                     kUser, "new", "--text", "From the tool"});
      });
    }
    saw_note = received.find("From the tool") != std::string::npos;
    return !saw_note;
  });
  if (writer.joinable()) writer.join();
  EXPECT_TRUE(saw_note) << received;
}

TEST_F(ViewTest, TheHotSyncButtonRunsAHotSyncInAProcessOfItsOwn) {
  EXPECT_TRUE(ask({{"side", "handheld"}, {"action", "new"}, {"text", "To the desktop"}})["ok"]);
  const json preview = ask({{"side", "hotsync"}, {"action", "preview"}});
  EXPECT_TRUE(preview["ok"]) << preview;
  EXPECT_NE(preview["lines"].dump().find("To the desktop"), std::string::npos) << preview;

  EXPECT_TRUE(ask({{"side", "hotsync"}, {"action", "sync"}})["ok"]);
  json s = state();
  // Waits for HotSync Manager's process to end (a bounded number of looks).
  for (int look = 0; look < 1200 && s["hotsync"]["running"].get<bool>(); ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    s = state();
  }
  ASSERT_FALSE(s["hotsync"]["running"].get<bool>());
  EXPECT_EQ(s["hotsync"]["last_result"], 0) << s["hotsync"];
  EXPECT_EQ(post_bodies(s), std::vector<std::string>{"To the desktop"});
  EXPECT_FALSE(s["log"].empty());
  ToolResult items = run_program(SXFOLDERS_PATH, {"--machine", sx::machine::root().string(),
                                                  "items", "Vorlan\\Scribbix"});
  EXPECT_NE(items.output.find("To the desktop"), std::string::npos) << items.output;
}

}  // namespace
}  // namespace sx::machine_view::testing
