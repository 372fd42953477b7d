// The diagnostic file: nothing without DiagnosticMode; header and dump texts character for
// character; one file per process, appended at each checkpoint.
#include "diagnostics.h"

#include <fstream>
#include <sstream>

#include "analysis_fixture.h"

namespace sx::conduit::testing {
namespace {

std::string read_host(const std::string& windows_path) {
  std::ifstream in(sx::paths::to_host(windows_path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DiagnosticsTest : public AnalysisTest {};

TEST_F(DiagnosticsTest, NothingIsWrittenWithDiagnosticModeOff) {
  add(handheld_, make_note(1, "x"));
  const std::string before = diagnostic_file_path();
  diagnostic_checkpoint("After loading", &handheld_, &desktop_);
  EXPECT_EQ(diagnostic_file_path(), before);
  if (!before.empty()) {
    EXPECT_EQ(GetFileAttributesA(before.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sx::paths::drive_folder('C'), ec)) {
    EXPECT_EQ(entry.path().filename().string().rfind("VorScrib", 0), std::string::npos);
  }
}

TEST_F(DiagnosticsTest, HeaderAndNoteDumpAreExact) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::string header = diagnostic_header("After loading");
  EXPECT_EQ(header.substr(0, 29), "\n========== After loading at ");
  EXPECT_EQ(header.substr(header.size() - 12), " ==========\n");

  auto note = make_note(300, "Groceries", 1u << NoteRecord::kText);
  note->info().m_RecId = 0x10;
  note->info().m_RecIndex = 2;
  note->info().m_RecSize = 41;
  note->setAttributes(kAttrDirty | kAttrArchived);
  note->text(NoteRecord::kText).setDesktop("Groceries");
  note->markForDeletion();
  EXPECT_EQ(diagnostic_note(*note),
            "[16, 2, (uda), 41] (--,dd) Groceries\n"
            "  (-,-,-) Modified Flags: 0\n"
            "  (-,-,-) Unique Id: 300\n"
            "  (-,-,w) Created on: na\n"
            "  (-,-,w) Last Modified Date: na\n"
            "  (-,-,-) Date: na\n"
            "  (-,-,-) Resv1: 0\n"
            "  (-,-,-) Resv2: 0\n"
            "  (-,-,-) : \n"
            "  (-,-,-) : \n"
            "  (b,d,-) Note Text: Groceries\n");
}

TEST_F(DiagnosticsTest, CheckpointsAppendToOneFilePerProcessWithBothDumps) {
  settings().DiagnosticMode = 1;
  auto& h = add(handheld_, make_note(1, "hello"));
  h.info().m_RecId = 5;
  handheld_.modification_time = 0;
  desktop_.last_sync_time = 0;
  diagnostic_checkpoint("Before loading", nullptr, nullptr);
  const std::string path = diagnostic_file_path();
  ASSERT_EQ(path.size(), std::string("\\VorScrib12345678.txt").size());
  EXPECT_EQ(path.rfind("\\VorScrib", 0), 0u);
  const std::string first = read_host(path);
  EXPECT_EQ(first, diagnostic_header("Before loading"));
  diagnostic_checkpoint("After loading", &handheld_, &desktop_);
  EXPECT_EQ(diagnostic_file_path(), path);  // the stamp is the process's
  const std::string all = read_host(path);
  ASSERT_EQ(all.substr(0, first.size()), first);
  const std::string expected = diagnostic_header("After loading") +
                               "ScribbixDB: Scribbix database on the Pilot\n"
                               "Modified: Fri Jan  1 00:00:00 1904  Last Sync: Fri Jan  1 "
                               "00:00:00 1904\n" +
                               diagnostic_note(h) + "\n" + diagnostic_header("After loading") +
                               "desktop: Scribbix Database on the PC\n";
  EXPECT_EQ(all.substr(first.size(), expected.size()), expected);
  EXPECT_EQ(all.substr(first.size() + expected.size(), 10), "Modified: ");
}

TEST_F(DiagnosticsTest, AnUnwritableFileIsSkippedQuietly) {
  settings().DiagnosticMode = 1;
  diagnostic_checkpoint("Before loading", nullptr, nullptr);
  const std::string path = diagnostic_file_path();
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::string before = read_host(path);
  diagnostic_checkpoint("After loading", &handheld_, &desktop_);
  EXPECT_EQ(read_host(path), before);
  EXPECT_TRUE(log().empty());
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace sx::conduit::testing
