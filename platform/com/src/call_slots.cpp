#include "call_slots.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <thread>

namespace sx::com::detail {

namespace {

// A slot's phase, in the low two bits of its state; the rest is the call id a reply slot is
// watched for (0 for a call slot).
constexpr std::uint64_t kIdle = 0;
constexpr std::uint64_t kWatched = 1;
constexpr std::uint64_t kWriting = 2;
constexpr std::uint64_t kFilled = 3;
constexpr std::uint64_t kPhase = 3;

constexpr int kCalls = 0;
constexpr int kReplies = 1;

constexpr std::uint64_t state_of(std::uint64_t tag, std::uint64_t phase) {
  return (tag << 2) | phase;
}

}  // namespace

struct alignas(64) CallSlots::Slot {
  std::atomic<std::uint64_t> state;
  std::atomic<std::uint32_t> size;  // written by the peer before the state says filled
  alignas(64) std::uint8_t bytes[kSlotBytes];
};

struct CallSlots::Layout {
  Slot slots[2][2];  // [side][kCalls, kReplies]
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
              "the slots' states are shared between processes");

namespace {

// Puts `first` and `second` one after the other.
bool put(std::atomic<std::uint64_t>& state, std::atomic<std::uint32_t>& size, std::uint8_t* bytes,
         std::uint64_t tag, CallSlots::Bytes first, CallSlots::Bytes second = {}) {
  const std::size_t length = first.size + second.size;
  if (length > CallSlots::kSlotBytes) return false;
  std::uint64_t expected = state_of(tag, kWatched);
  if (!state.compare_exchange_strong(expected, state_of(tag, kWriting),
                                     std::memory_order_acquire)) {
    return false;
  }
  if (first.size > 0) std::memcpy(bytes, first.data, first.size);
  if (second.size > 0) std::memcpy(bytes + first.size, second.data, second.size);
  size.store(static_cast<std::uint32_t>(length), std::memory_order_relaxed);
  state.store(state_of(tag, kFilled), std::memory_order_release);
  return true;
}

bool take(std::atomic<std::uint64_t>& state, std::atomic<std::uint32_t>& size,
          const std::uint8_t* bytes, std::uint64_t tag, std::vector<std::uint8_t>* message,
          FunctionRef<bool()> peer_alive) {
  std::uint64_t expected = state_of(tag, kWatched);
  if (state.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel)) return false;
  // The peer put (or is putting) a message here before the watch ended: it is ours to take.
  for (unsigned i = 1; state.load(std::memory_order_acquire) != state_of(tag, kFilled); ++i) {
    if (i % 256 == 0) {
      if (!peer_alive()) {
        state.store(kIdle, std::memory_order_release);
        return false;
      }
      std::this_thread::yield();
    }
  }
  const std::uint32_t length = size.load(std::memory_order_relaxed);
  bool taken = false;
  if (length > 0 && length <= CallSlots::kSlotBytes) {
    try {
      message->assign(bytes, bytes + length);
      taken = true;
    } catch (const std::bad_alloc&) {
      // Left to the peer's end; the caller sees nothing came.
    }
  }
  state.store(kIdle, std::memory_order_release);
  return taken;
}

}  // namespace

std::unique_ptr<CallSlots> CallSlots::create(int* fd) {
  *fd = -1;
  const int memory_fd = ::memfd_create("sx-com-call-slots", MFD_CLOEXEC);
  if (memory_fd < 0) return nullptr;
  void* memory = MAP_FAILED;
  if (::ftruncate(memory_fd, sizeof(Layout)) == 0) {
    memory = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, memory_fd, 0);
  }
  if (memory == MAP_FAILED) {
    ::close(memory_fd);
    return nullptr;
  }
  auto* layout = new (memory) Layout;  // new memory is zero: every slot idle
  for (auto& side : layout->slots) {
    for (Slot& slot : side) {
      slot.state.store(kIdle, std::memory_order_relaxed);
      slot.size.store(0, std::memory_order_relaxed);
    }
  }
  *fd = memory_fd;
  return std::unique_ptr<CallSlots>(new CallSlots(memory, 0));
}

std::unique_ptr<CallSlots> CallSlots::adopt(int fd) {
  struct stat info {};
  void* memory = MAP_FAILED;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::size_t>(info.st_size) == sizeof(Layout)) {
    memory = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  ::close(fd);
  if (memory == MAP_FAILED) return nullptr;
  return std::unique_ptr<CallSlots>(new CallSlots(memory, 1));
}

CallSlots::CallSlots(void* memory, int side) : memory_(memory), side_(side) {}

CallSlots::~CallSlots() { ::munmap(memory_, sizeof(Layout)); }

CallSlots::Slot& CallSlots::mine(int which) const {
  return static_cast<Layout*>(memory_)->slots[side_][which];
}

CallSlots::Slot& CallSlots::peers(int which) const {
  return static_cast<Layout*>(memory_)->slots[1 - side_][which];
}

bool CallSlots::for_each_frame(
    const std::uint8_t* data, std::size_t size,
    FunctionRef<void(const std::uint8_t* body, std::size_t length)> frame) {
  std::size_t at = 0;
  while (at < size) {
    std::uint32_t length = 0;
    if (size - at < sizeof length) return false;
    std::memcpy(&length, data + at, sizeof length);
    at += sizeof length;
    if (length == 0 || length > size - at) return false;
    frame(data + at, length);
    at += length;
  }
  return true;
}

bool CallSlots::offer_call(Bytes first, Bytes second) {
  Slot& slot = peers(kCalls);
  return put(slot.state, slot.size, slot.bytes, 0, first, second);
}

bool CallSlots::watch_calls() {
  std::uint64_t idle = kIdle;
  return mine(kCalls).state.compare_exchange_strong(idle, state_of(0, kWatched),
                                                    std::memory_order_acq_rel);
}

bool CallSlots::call_came() const {
  return mine(kCalls).state.load(std::memory_order_acquire) != state_of(0, kWatched);
}

bool CallSlots::end_call_watch(std::vector<std::uint8_t>* message,
                               FunctionRef<bool()> peer_alive) {
  Slot& slot = mine(kCalls);
  return take(slot.state, slot.size, slot.bytes, 0, message, peer_alive);
}

bool CallSlots::watch_reply(std::uint64_t id) {
  std::uint64_t idle = kIdle;
  return mine(kReplies).state.compare_exchange_strong(idle, state_of(id, kWatched),
                                                      std::memory_order_acq_rel);
}

bool CallSlots::reply_came(std::uint64_t id) const {
  return mine(kReplies).state.load(std::memory_order_acquire) != state_of(id, kWatched);
}

bool CallSlots::end_reply_watch(std::uint64_t id, std::vector<std::uint8_t>* message,
                                FunctionRef<bool()> peer_alive) {
  Slot& slot = mine(kReplies);
  return take(slot.state, slot.size, slot.bytes, id, message, peer_alive);
}

bool CallSlots::reply_waiting() const {
  const std::uint64_t phase = mine(kReplies).state.load(std::memory_order_acquire) & kPhase;
  return phase == kWriting || phase == kFilled;
}

bool CallSlots::offer_reply(std::uint64_t id, Bytes message) {
  Slot& slot = peers(kReplies);
  return put(slot.state, slot.size, slot.bytes, id, message);
}

}  // namespace sx::com::detail
