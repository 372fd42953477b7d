// Outlook as a person uses it (the machine's OUTLOOK.EXE): Outlook started with an explorer on the
// default folder and the start-up add-ins loaded, shown as text, and a person's actions as short
// commands. The console program (tool/outlook_person.cpp) reads the commands from a person; a test
// gives them here directly. Everything goes through Outlook's object model from the calling
// thread's apartment (proxies), as another program would see Outlook.
//
// The screen: the explorer's caption, the folder list (numbered), the current folder's items
// (numbered), the explorer's visible command bars with their controls (numbered "cN"; popups show
// their controls indented), and the open inspector, when there is one: its caption, "reading" or
// "editing", the item's subject, its own fields (user properties) and body, and its menu bar's
// controls (numbered on from the explorer's).
//
// Commands (one a line; what is wrong is said, nothing is lost):
//   folder N      show folder N of the list (items others saved there since are noticed)
//   select N      select item N of the current folder (marked "*"; what Delete deletes)
//   open N        select item N of the current folder and open it in an inspector
//   type TEXT     type TEXT at the end of the open item's body (only while editing)
//   save          save the open item
//   close         close the open inspector (refused with unsaved changes: save, or "close!")
//   close!        close it, dropping unsaved changes
//   click N       click control N of the screen (a button runs; a menu shows its items; the
//                 explorer's Delete deletes the selected item)
//   look          show the screen again, looking at the current folder afresh
//   quit          end Outlook (refused while the open item has unsaved changes)
//   quit!         end Outlook, dropping unsaved changes
//   help          the commands
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

namespace sx::outlook {

class PersonOutlook {
 public:
  // Starts Outlook with an explorer (sx/outlook/outlook_process.h). Null with the reason in *why
  // when it cannot. The calling thread must be in a single-threaded apartment.
  static std::unique_ptr<PersonOutlook> start(std::string* why);
  ~PersonOutlook();
  PersonOutlook(const PersonOutlook&) = delete;
  PersonOutlook& operator=(const PersonOutlook&) = delete;

  // What the person sees now (the numbers of the commands refer to the last screen made).
  std::string screen();
  // Runs one command line; *reply says what happened ("" when there is nothing to say). False
  // once Outlook has ended (after "quit", or when its last explorer closed).
  bool run(const std::string& line, std::string* reply);
  bool running() const;
  // Whether the open item has changes that are not saved yet.
  bool unsaved_changes();

 private:
  struct State;
  explicit PersonOutlook(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// A person's whole session: starts Outlook with an explorer, shows the screen on `out` and runs the
// commands read from `in` until "quit", the end of the input (which quits, saying so when an open
// item's unsaved changes go with it) or the last explorer closing. Enters and leaves a
// single-threaded apartment itself. False, with the reason in *why, when Outlook could not start.
bool converse(std::istream& in, std::ostream& out, std::string* why);

}  // namespace sx::outlook
