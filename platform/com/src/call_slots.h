// The memory two processes of one connection share, so that a call and its reply need neither
// the socket nor a reader thread when the other side is watching for them (docs/com-apartments.md,
// "The shared call slots").
//
// Each side has an inbox of two slots: one for a call to it, one for the reply to its call. A slot
// goes idle -> watched (its owner watches it) -> writing -> filled (the peer wrote a message into
// it) -> idle (its owner took it). A sender puts a message in a slot only when it finds the slot
// watched, in one compare-and-swap; otherwise the message goes over the socket as before. The
// owner ends a watch with the opposite compare-and-swap, so every message goes exactly one way.
// A reply slot is watched for one call id, which its state carries.
//
// What the peer wrote is copied out before it is read; its size is checked against the slot. A
// peer can only spoil the calls of its own connection.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "com/work_ref.h"

namespace sx::com::detail {

class CallSlots {
 public:
  // Bytes a slot holds; a longer message goes over the socket.
  static constexpr std::size_t kSlotBytes = 128 * 1024;

  struct Bytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
  };

  // The connecting side's slots, made in new shared memory; *fd is its descriptor (close-on-exec)
  // to send to the peer, for the caller to close. Null when the memory cannot be had.
  static std::unique_ptr<CallSlots> create(int* fd);
  // The accepting side's slots, in the memory the peer sent. Takes `fd` (closed here). Null when it
  // is not such memory.
  static std::unique_ptr<CallSlots> adopt(int fd);

  ~CallSlots();
  CallSlots(const CallSlots&) = delete;
  CallSlots& operator=(const CallSlots&) = delete;

  // Calls to the peer: true when the peer watched its call slot and `first` and `second` are
  // there now, one after the other (whole frames, as on the socket: a call and what goes with it).
  bool offer_call(Bytes first, Bytes second);
  // Calls to this side. Opens the call slot; false when it is open already (another thread of
  // this process watches it).
  bool watch_calls();
  // A call is (being) put in the open slot: end the watch now.
  bool call_came() const;
  // Ends the watch; true with the call in *message when one was put there meanwhile. `peer_alive`
  // is asked while the peer is still writing: a peer that dies then leaves nothing.
  bool end_call_watch(std::vector<std::uint8_t>* message, FunctionRef<bool()> peer_alive);

  // Replies to this side: watches the reply slot for call `id`; false when another call of this
  // process watches it.
  bool watch_reply(std::uint64_t id);
  bool reply_came(std::uint64_t id) const;
  bool end_reply_watch(std::uint64_t id, std::vector<std::uint8_t>* message,
                       FunctionRef<bool()> peer_alive);
  // A reply is in this side's reply slot, written or being written, and not yet taken.
  bool reply_waiting() const;
  // Replies to the peer: true when the peer watched its reply slot for call `id` and `message` is
  // there now.
  bool offer_reply(std::uint64_t id, Bytes message);

  // The frames of a call slot's content, in order: each a 32-bit length and a body of that many
  // bytes, as on the socket. False (after the frames before it) when the rest cannot be framed.
  static bool for_each_frame(const std::uint8_t* data, std::size_t size,
                             FunctionRef<void(const std::uint8_t* body, std::size_t length)> frame);

 private:
  struct Slot;
  struct Layout;
  CallSlots(void* memory, int side);

  Slot& mine(int which) const;
  Slot& peers(int which) const;

  void* const memory_;
  const int side_;  // 0: the connecting side, 1: the accepting side
};

}  // namespace sx::com::detail
