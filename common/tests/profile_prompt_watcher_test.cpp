// The watcher's polling on the virtual clock: thirty looks 100 ms apart, a restart while it runs
// gives it thirty more on the same thread, a stop ends it at its next look.
#include <gtest/gtest.h>

#include "scribbix/profile_prompt_watcher.h"
#include "sx/clock.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace sx::common {
namespace {

TEST(ProfilePromptWatcherTest, GivesUpAfterThirtyLooksAndARestartGivesThirtyMore) {
  sx::testing::TempMachine machine;
  ProfilePromptWatcher watcher;
  std::int64_t started = sx::clock::now_ms();
  watcher.start();
  watcher.wait();
  EXPECT_EQ(sx::clock::now_ms() - started, 3000);

  started = sx::clock::now_ms();
  watcher.start();
  Sleep(1550);
  watcher.start();  // still running: its countdown starts again
  watcher.wait();
  EXPECT_EQ(sx::clock::now_ms() - started, 4500);  // thirty more looks, the next at 1600
  EXPECT_EQ(watcher.cancelled(), 0);
}

TEST(ProfilePromptWatcherTest, StopEndsTheThreadAtItsNextLook) {
  sx::testing::TempMachine machine;
  ProfilePromptWatcher watcher;
  const std::int64_t started = sx::clock::now_ms();
  watcher.start();
  Sleep(250);
  watcher.stop();
  watcher.wait();
  EXPECT_EQ(sx::clock::now_ms() - started, 300);
}

}  // namespace
}  // namespace sx::common
