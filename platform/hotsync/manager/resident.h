// HotSync Manager's resident mode: a top-level window of class "KittyHawk" that other processes of
// the machine find with FindWindow. Message 0xBEC5 with wParam 1 answers 1 and makes the program
// close (whoever sent it then starts HotSync Manager again); WM_CLOSE closes it, as do Ctrl+C and
// SIGTERM (turned into WM_CLOSE, so that the window leaves the machine's window list). One resident
// HotSync Manager runs per machine: it holds the exclusive lock on "<root>/windows/KittyHawk.lock"
// while it runs. Runs on the calling (main) thread, plus one thread that waits for the signals.
#pragma once

namespace sx::hotsync {

// Shows the window and runs its message loop until the window is closed. Returns the exit code;
// throws sx::cli::Failure when another resident HotSync Manager runs on the machine or the window
// cannot be made.
int run_resident();

// Asks the resident HotSync Manager of the machine to close (WM_CLOSE to its window) and waits up
// to 10 seconds until its window is gone. Returns the exit code; says so when none runs.
int close_resident();

}  // namespace sx::hotsync
