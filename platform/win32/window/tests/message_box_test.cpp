// Message boxes under the scripted and none hosts.
#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::ShownWindow;

TEST_F(WindowTest, ScriptedMessageBoxTakesTheQueuedAnswerAndIsRecorded) {
  sx::window::expect_message_box(IDYES, "partial upgrade");

  const int answer = MessageBoxA(nullptr, "A partial upgrade of Outlook has been detected.",
                                 "Scribbix", MB_YESNO | MB_ICONQUESTION | MB_TOPMOST);

  EXPECT_EQ(answer, IDYES);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, ShownWindow::Kind::kMessageBox);
  EXPECT_EQ(shown[0].title, "Scribbix");
  EXPECT_EQ(shown[0].text, "A partial upgrade of Outlook has been detected.");
  EXPECT_EQ(shown[0].type, MB_YESNO | MB_ICONQUESTION | MB_TOPMOST);
  EXPECT_EQ(shown[0].result, IDYES);
  EXPECT_EQ(shown[0].clicked, IDYES);
}

TEST_F(WindowTest, MessageBoxAnswersAreMatchedByTextAndUnansweredBoxesTakeTheDefault) {
  sx::window::expect_message_box(IDOK, "second");

  EXPECT_EQ(MessageBoxA(nullptr, "first question", "Q", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "the second question", "Q", MB_OKCANCEL), IDOK);
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
  EXPECT_EQ(sx::window::shown().size(), 2u);
}

TEST_F(WindowTest, NoneHostAnswersEachKindOfBoxAndPrintsItsText) {
  sx::window::set_host(sx::window::Host::kNone);
  ::testing::internal::CaptureStderr();

  EXPECT_EQ(MessageBoxA(nullptr, "Failed to load the help file: \"x.chm\"", nullptr, MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL | MB_ICONSTOP), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_RETRYCANCEL), IDCANCEL);

  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("[message box \"Error\" (none)]\nFailed to load the help file: \"x.chm\"\n"
                        "[answered OK]"),
            std::string::npos);
  EXPECT_NE(errors.find("(stop)"), std::string::npos);
}

TEST_F(WindowTest, MessageBoxWithUnknownTypeFailsAndScriptedNonButtonAnswerFallsBack) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", 0x0F), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  sx::window::expect_message_box(IDYES);  // there is no Yes on an OK box
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), IDOK);
}

TEST_F(WindowTest, SetForegroundMessageBoxComesToTheForegroundWhileShown) {
  HWND owner = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  SetForegroundWindow(owner);
  EXPECT_EQ(GetForegroundWindow(), owner);
  EXPECT_EQ(MessageBoxA(owner, "Com Error!\n", "SXConfigure", MB_OK | MB_SETFOREGROUND), IDOK);
  EXPECT_EQ(GetForegroundWindow(), nullptr);  // the box was foreground and is gone
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

// A person's script answers windows by their titles with the texts of their buttons; what it does
// not name, nobody answers.
TEST_F(WindowTest, AnswersHostAnswersByTitleAndLeavesWhatItDoesNotNameToNobody) {
  sx::window::set_host(sx::window::Host::kAnswers);
  std::vector<std::string> problems;
  sx::window::set_window_answers(sx::window::parse_window_answers(
      " scribbix = yes ;Other=Retry;Broken;Conflicts=Use my response for ALL future "
      "conflicts.|Use Desktop Value;Nothing=",
      ";", &problems));
  EXPECT_EQ(problems.size(), 2u);  // "Broken" and "Nothing=" are left out, and said
  ::testing::internal::CaptureStderr();

  EXPECT_EQ(MessageBoxA(nullptr, "Update the folder?", "Scribbix", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "Other", MB_OKCANCEL), IDCANCEL);  // no Retry there
  EXPECT_EQ(MessageBoxA(nullptr, "t", "Unknown", MB_YESNO), IDNO);
  sx::window::DialogTemplate conflict = *sx::window::find_dialog(kModule, MAKEINTRESOURCEA(129));
  conflict.title = "Conflicts";
  conflict.id = 700;
  sx::window::register_dialog(kModule, conflict);
  Seen seen;
  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(700), nullptr, logging_proc,
                            reinterpret_cast<LPARAM>(&seen)),
            1000);
  EXPECT_EQ(seen.commands, (std::vector<WPARAM>{1003, 1000}));  // the box, then the button
  Seen unnamed;
  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr, logging_proc,
                            reinterpret_cast<LPARAM>(&unnamed)),
            IDCANCEL);

  const std::string log = ::testing::internal::GetCapturedStderr();
  for (const char* said :
       {"[answered message box \"Scribbix\": Yes]",
        "[answered dialog \"Conflicts\": Use my "
        "response for ALL future conflicts.]\n[answered dialog \"Conflicts\": Use Desktop Value]",
        "[message box \"Other\" is not in the window answers: nobody answers it]",
        "[dialog \"Scribbix Unknown Palm\" is not in the window answers: cancelled]"})
    EXPECT_NE(log.find(said), std::string::npos) << said << "\n" << log;
}

}  // namespace
}  // namespace window_test
