// The slots two processes share for calls and replies, here between two threads of one process
// that map the same memory as the two sides do: a message goes through a slot only while its
// owner watches it, and every message goes exactly one way (the slot or, refused, the socket).
#include "call_slots.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using sx::com::detail::CallSlots;

struct Sides {
  std::unique_ptr<CallSlots> connecting;
  std::unique_ptr<CallSlots> accepting;
};

Sides make_sides() {
  Sides sides;
  int fd = -1;
  sides.connecting = CallSlots::create(&fd);
  if (!sides.connecting) return sides;
  sides.accepting = CallSlots::adopt(::dup(fd));
  ::close(fd);
  return sides;
}

CallSlots::Bytes bytes_of(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

const auto kAlive = [] { return true; };

TEST(CallSlotsTest, ACallGoesOnlyIntoAWatchedSlotAndIsTakenOnce) {
  Sides sides = make_sides();
  ASSERT_TRUE(sides.connecting && sides.accepting);
  const std::vector<std::uint8_t> releases = {1, 2, 3};
  const std::vector<std::uint8_t> call = {4, 5};

  EXPECT_FALSE(sides.connecting->offer_call(bytes_of(releases), bytes_of(call)));  // not watched

  ASSERT_TRUE(sides.accepting->watch_calls());
  EXPECT_FALSE(sides.accepting->watch_calls());  // one watcher at a time
  EXPECT_FALSE(sides.accepting->call_came());
  ASSERT_TRUE(sides.connecting->offer_call(bytes_of(releases), bytes_of(call)));
  EXPECT_TRUE(sides.accepting->call_came());
  EXPECT_FALSE(sides.connecting->offer_call(bytes_of(call), {}));  // filled: goes the other way
  std::vector<std::uint8_t> taken;
  ASSERT_TRUE(sides.accepting->end_call_watch(&taken, kAlive));
  EXPECT_EQ(taken, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));

  // A watch that ends with nothing in it leaves the slot closed.
  ASSERT_TRUE(sides.accepting->watch_calls());
  EXPECT_FALSE(sides.accepting->end_call_watch(&taken, kAlive));
  EXPECT_FALSE(sides.connecting->offer_call(bytes_of(call), {}));

  // The other direction has slots of its own.
  ASSERT_TRUE(sides.connecting->watch_calls());
  ASSERT_TRUE(sides.accepting->offer_call(bytes_of(call), {}));
  ASSERT_TRUE(sides.connecting->end_call_watch(&taken, kAlive));
  EXPECT_EQ(taken, call);
}

TEST(CallSlotsTest, AReplyGoesOnlyToTheCallItsSlotWatchesFor) {
  Sides sides = make_sides();
  ASSERT_TRUE(sides.connecting && sides.accepting);
  const std::vector<std::uint8_t> reply = {9, 8, 7};
  ASSERT_TRUE(sides.connecting->watch_reply(41));
  EXPECT_FALSE(sides.connecting->watch_reply(42));  // another call of this side watches
  EXPECT_FALSE(sides.accepting->offer_reply(42, bytes_of(reply)));
  EXPECT_FALSE(sides.connecting->reply_came(41));
  EXPECT_FALSE(sides.connecting->reply_waiting());
  ASSERT_TRUE(sides.accepting->offer_reply(41, bytes_of(reply)));
  EXPECT_TRUE(sides.connecting->reply_came(41));
  EXPECT_TRUE(sides.connecting->reply_waiting());  // releases sent after it must wait for it
  std::vector<std::uint8_t> taken;
  ASSERT_TRUE(sides.connecting->end_reply_watch(41, &taken, kAlive));
  EXPECT_EQ(taken, reply);
  EXPECT_FALSE(sides.connecting->reply_waiting());

  ASSERT_TRUE(sides.connecting->watch_reply(42));
  EXPECT_FALSE(sides.connecting->end_reply_watch(42, &taken, kAlive));
  EXPECT_FALSE(sides.accepting->offer_reply(42, bytes_of(reply)));  // too late: by the socket
}

TEST(CallSlotsTest, AMessageLongerThanASlotIsRefusedWhole) {
  Sides sides = make_sides();
  ASSERT_TRUE(sides.connecting && sides.accepting);
  const std::vector<std::uint8_t> half(CallSlots::kSlotBytes / 2 + 1, 0x5A);
  ASSERT_TRUE(sides.accepting->watch_calls());
  EXPECT_FALSE(sides.connecting->offer_call(bytes_of(half), bytes_of(half)));
  EXPECT_FALSE(sides.accepting->call_came());
  ASSERT_TRUE(sides.connecting->offer_call(bytes_of(half), {}));
  std::vector<std::uint8_t> taken;
  ASSERT_TRUE(sides.accepting->end_call_watch(&taken, kAlive));
  EXPECT_EQ(taken, half);
}

TEST(CallSlotsTest, MemoryThatIsNotASlotsMemoryIsRefused) {
  int fd = -1;
  auto made = CallSlots::create(&fd);
  ASSERT_TRUE(made);
  ASSERT_EQ(::ftruncate(fd, 4096), 0);
  EXPECT_FALSE(CallSlots::adopt(fd));
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ::close(pipe_fds[1]);
  EXPECT_FALSE(CallSlots::adopt(pipe_fds[0]));
}

// A sender offering while the owner opens and closes its watch as fast as it can: every message
// is either taken from the slot or was refused to its sender, never both and never neither. The
// sender goes on until some went through the slot (or, on a machine too busy to interleave the
// two threads, for two seconds).
TEST(CallSlotsTest, EveryMessageGoesExactlyOneWayWhileWatchesOpenAndClose) {
  Sides sides = make_sides();
  ASSERT_TRUE(sides.connecting && sides.accepting);
  constexpr std::uint32_t kMost = 1000000;
  std::vector<char> refused(kMost, 0);
  std::atomic<std::uint32_t> sent{0};
  std::atomic<bool> sent_all{false};
  std::thread sender([&] {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::uint32_t accepted = 0;
    for (std::uint32_t i = 0; i < kMost && accepted < 200; ++i) {
      std::uint8_t message[4];
      std::memcpy(message, &i, 4);
      refused[i] = sides.connecting->offer_call({message, 4}, {}) ? 0 : 1;
      sent = i + 1;
      if (refused[i] == 0) ++accepted;
      for (int spin = 0; spin < 200; ++spin) std::atomic_signal_fence(std::memory_order_seq_cst);
      if (i % 1024 == 0 && std::chrono::steady_clock::now() > limit) break;
    }
    sent_all = true;
  });
  std::vector<int> taken(kMost, 0);
  for (;;) {
    const bool last_round = sent_all.load();
    if (sides.accepting->watch_calls()) {
      for (int spin = 0; spin < 500 && !sides.accepting->call_came(); ++spin) {
      }
      std::vector<std::uint8_t> message;
      if (sides.accepting->end_call_watch(&message, kAlive)) {
        ASSERT_EQ(message.size(), 4u);
        std::uint32_t i = 0;
        std::memcpy(&i, message.data(), 4);
        ASSERT_LT(i, kMost);
        ++taken[i];
      }
    }
    if (last_round) break;
  }
  sender.join();
  std::uint32_t through_slot = 0;
  for (std::uint32_t i = 0; i < sent; ++i) {
    ASSERT_EQ(taken[i], refused[i] != 0 ? 0 : 1) << "message " << i;
    through_slot += static_cast<std::uint32_t>(taken[i]);
  }
  EXPECT_GT(through_slot, 0u);
}

}  // namespace
