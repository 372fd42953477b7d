// Internal: what the console host draws for a dialog, and which key reaches which control or menu
// item.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core.h"

namespace sx::window::detail {

struct ConsoleView {
  std::string text;
  // The controls that answer keys, numbered from 1 in this order: those of the shown child dialogs
  // (a property sheet's current page) first, then the dialog's own.
  std::vector<std::shared_ptr<Window>> inputs;
  std::vector<UINT> menu_ids;    // "m1", "m2", ...: the menu bar's command items
  std::vector<UINT> system_ids;  // "s1", ...: the window menu, when the program changed it
};

// Renders `dialog` for the terminal. With `mark_drawn` the dialog and its controls count as drawn
// (not changed) afterwards. Call with no lock held.
ConsoleView render_for_console(const std::shared_ptr<Window>& dialog, bool mark_drawn);

// Whether the dialog or any of its controls changed since it was drawn. Lock held.
bool changed_since_drawn_locked(const Window& dialog);

// The visible modeless top-level dialogs of `queue`'s thread that changed since they were drawn.
// Call with no lock held.
std::vector<std::shared_ptr<Window>> changed_modeless_dialogs(const ThreadQueue& queue);

// The machine's ANSI text as UTF-8 for the terminal, without carriage returns.
std::string to_terminal(const std::string& ansi);

}  // namespace sx::window::detail
