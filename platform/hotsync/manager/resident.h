// HotSync Manager's resident mode: a top-level window of class "KittyHawk" that other processes of
// the machine find with FindWindow. Message 0xBEC5 with wParam 1 answers 1 and makes the program
// close (whoever sent it then starts HotSync Manager again). Runs on the calling thread.
#pragma once

namespace sx::hotsync {

// Shows the window and runs its message loop until the window is closed. Returns the exit code.
int run_resident();

}  // namespace sx::hotsync
