// The notes application for a person at a terminal (`sxmachine handheld USER run`): the list of
// notes by category, a note opened, edited and saved, deleted or archived, the categories edited.
// The screen is text; the person's commands come one a line:
//   show CATEGORY | show all   the notes of one category, or all of them
//   find TEXT                  the notes whose text holds TEXT (any letter case)
//   open N                     open note N of the list
//   new                        open a new, empty note
//   type TEXT                  add a line to the open note's text
//   clear                      empty the open note's text
//   category NAME              put the open note in a category ("Unfiled" for none)
//   private on|off             make the open note private or not
//   date YYYY-MM-DD [HH:MM]    the open note's date ("date none": no date)
//   save                       save the open note (it stays open)
//   close | close!             close the open note (close! drops unsaved changes)
//   delete | archive           delete the open note, or archive it ("Save archive copy on PC")
//   categories                 the categories, with their notes
//   newcat NAME                a new category
//   rename OLD NEW             rename a category (names with blanks in double quotes)
//   delcat NAME                delete a category; its notes go to Unfiled
//   look, help, quit, quit!    the screen again, the commands, the end (quit! drops unsaved
//                              changes)
// Every change is written to the handheld at once, under its HotSync lock; a change refused (a
// HotSync in progress, a mistake) is said and nothing is lost. The end of the input ends the
// application, saying what unsaved changes go with it.
#pragma once

#include <iosfwd>

#include "sx/handheld/notes_database.h"

namespace sx::handheld {

// Runs the conversation on `app` until "quit" or the end of `in`. Texts read from `in` are UTF-8
// and kept in the handheld's code page (a text it cannot hold is refused); `out` gets UTF-8.
void converse(NotesApp& app, std::istream& in, std::ostream& out);

}  // namespace sx::handheld
