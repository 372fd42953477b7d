#include "page_actions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <sstream>

#include "child_program.h"
#include "machine_state.h"
#include "sx/cli/terminal_text.h"
#include "sx/handheld/notes_database.h"
#include "sx/machine.h"
#include "sx/preview/preview.h"
#include "sx/web_windows.h"
#include "win32/codepage.h"

namespace sx::machine_view {
namespace {

namespace hh = sx::handheld;

ActionResult done(std::string message) { return {true, std::move(message), {}}; }
ActionResult failed(std::string message) { return {false, std::move(message), {}}; }

std::string ansi(const std::string& utf8, const char* what) {
  return sx::cli::machine_text(utf8, what);
}

std::string root() { return sx::machine::root().string(); }

// The last lines a program printed, as the reason it gives.
std::string said(const ProgramRun& run) {
  std::string text = run.output;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const auto error = text.rfind("ERROR: ");
  return error != std::string::npos ? text.substr(error + 7) : text;
}

// A text option of sxfolders: "--name=value", so that a text beginning with '-' stays a text and
// is never read as an option; an empty text as a separate empty argument, which is how it takes
// one.
void add_text_option(std::vector<std::string>* args, const std::string& name,
                     const std::string& value) {
  if (value.empty()) {
    args->insert(args->end(), {name, ""});
  } else {
    args->push_back(name + "=" + value);
  }
}

}  // namespace

PageActions::PageActions(std::string user, Programs programs,
                         std::vector<std::string> hotsync_environment)
    : user_(std::move(user)),
      programs_(std::move(programs)),
      hotsync_environment_(std::move(hotsync_environment)) {
  const auto folder = sx::machine::root() / "view";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  output_file_ = (folder / "hotsync-output.txt").string();
}

PageActions::~PageActions() {
  if (reaper_.joinable()) reaper_.join();
}

ActionResult PageActions::apply(const PageRequest& request) {
  try {
    switch (request.side) {
      case Side::kHandheld:
        return handheld(request);
      case Side::kOutlook:
        return outlook(request);
      case Side::kHotSync:
        return request.action == Action::kSync ? start_hotsync() : preview();
      case Side::kWindow:
        return window(request);
    }
    return failed("Nothing to do.");
  } catch (const std::exception& e) {
    return failed(sx::codepage::ansi_to_utf8(e.what()));
  }
}

ActionResult PageActions::handheld(const PageRequest& r) {
  hh::NoteChange change;
  if (r.text) change.text = ansi(*r.text, "text");
  if (r.is_private) change.is_private = r.is_private;
  std::string message;
  hh::NotesApp app(user_);
  app.with_database([&](hh::NotesDatabase& db) {
    if (r.category && !r.category->empty())
      change.category = db.category_named(ansi(*r.category, "category name"));
    switch (r.action) {
      case Action::kNew:
        message = "Wrote note " + std::to_string(db.add_note(change)) + " on the handheld.";
        break;
      case Action::kEdit:
        message = db.edit_note(r.record, change) ? "Changed the note on the handheld."
                                                 : "The note was already so.";
        break;
      default:
        db.delete_note(r.record, r.action == Action::kArchive);
        message = r.action == Action::kArchive ? "Archived the note on the handheld."
                                               : "Deleted the note on the handheld.";
        break;
    }
  });
  return done(message);
}

ActionResult PageActions::outlook(const PageRequest& r) {
  std::vector<std::string> args = {"--machine", root()};
  switch (r.action) {
    case Action::kNew:
      args.insert(args.end(), {"add-post", kNotesFolderPath, "--class", "IPM.Post.ScribbixPost2"});
      break;
    case Action::kEdit:
      args.insert(args.end(), {"set", kNotesFolderPath, "--entry-id", r.entry_id});
      break;
    default:
      args.insert(args.end(), {"delete", kNotesFolderPath, "--entry-id", r.entry_id});
      break;
  }
  // A new post without a subject takes its body's first line, as a person's Outlook shows it.
  std::optional<std::string> subject = r.subject;
  if (r.action == Action::kNew && (!subject || subject->empty()) && r.body)
    subject = r.body->substr(0, r.body->find('\n'));
  if (subject) add_text_option(&args, "--subject", *subject);
  if (r.body) add_text_option(&args, "--body", *r.body);
  if (r.categories) add_text_option(&args, "--categories", *r.categories);
  const ProgramRun run = run_to_end(programs_.sxfolders, args);
  if (run.exit_code != 0) return failed(said(run));
  return done(r.action == Action::kNew    ? "Added a post to the notes folder."
              : r.action == Action::kEdit ? "Changed the post."
                                          : "Deleted the post.");
}

ActionResult PageActions::start_hotsync() {
  std::lock_guard lock(mutex_);
  if (hotsync_pid_ > 0) return failed("A HotSync is in progress.");
  if (reaper_.joinable()) reaper_.join();
  std::string why;
  const pid_t pid = start(programs_.hotsync,
                          {"--machine", root(), "--sync", sx::codepage::ansi_to_utf8(user_)},
                          hotsync_environment_, output_file_, &why);
  if (pid < 0) return failed(why);
  hotsync_pid_ = pid;
  has_result_ = false;
  ++hotsync_changes_;
  reaper_ = std::thread([this, pid] {
    const int code = wait_for_exit(pid);
    try {
      std::lock_guard reaped(mutex_);
      hotsync_pid_ = -1;
      last_result_ = code;
      has_result_ = true;
      ++hotsync_changes_;
    } catch (...) {  // a mutex that cannot be locked: the page keeps showing "in progress"
    }
  });
  return done("HotSync started.");
}

ActionResult PageActions::preview() {
  try {
    const auto p = sx::preview::preview_hotsync(user_);
    ActionResult result = done("What the next HotSync would do:");
    for (const std::string& line : sx::preview::preview_lines(p))
      result.lines.push_back(sx::codepage::ansi_to_utf8(line));
    return result;
  } catch (const sx::preview::PreviewError& e) {
    return failed(sx::codepage::ansi_to_utf8(e.what()));
  }
}

ActionResult PageActions::window(const PageRequest& r) {
  namespace web = sx::window::web;
  std::error_code ec;
  if (!std::filesystem::exists(web::windows_folder() / (r.window + ".json"), ec))
    return failed("That window is gone.");
  web::WindowInput input;
  input.handle = r.handle;
  input.index = r.index;
  switch (r.action) {
    case Action::kType:
      input.kind = web::WindowInput::Kind::kType;
      input.text = r.text.value_or("");
      break;
    case Action::kSelect:
      input.kind = web::WindowInput::Kind::kSelect;
      break;
    case Action::kClose:
      input.kind = web::WindowInput::Kind::kClose;
      break;
    default:
      input.kind = web::WindowInput::Kind::kClick;
      break;
  }
  std::filesystem::create_directories(web::input_folder(), ec);
  // Whole lines only, one request at a time: the window's thread reads up to the last line end.
  const std::string line = web::window_input_line(input);
  std::lock_guard lock(input_mutex_);
  const std::string file = (web::input_folder() / (r.window + ".jsonl")).string();
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return failed("Cannot pass that on to the window.");
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (written != line.size()) return failed("Cannot pass that on to the window.");
  return done("");
}

nlohmann::json PageActions::hotsync_status() const {
  std::lock_guard lock(mutex_);
  nlohmann::json status{{"running", hotsync_pid_ > 0}, {"last_result", nullptr}};
  if (has_result_) {
    status["last_result"] = last_result_;
    std::ifstream in(output_file_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    status["output"] = text.str().substr(0, 64 * 1024);  // the program prints UTF-8
  }
  return status;
}

}  // namespace sx::machine_view
