// Calls between processes of one machine (docs/com-apartments.md, "Between processes"): the
// connections between processes over Unix domain sockets under the machine root, the objects a
// process lends to others (remote exports), the remote proxies it holds of theirs, the calls that
// come in (queued into the object's apartment, answered when they ran) and the class objects
// registered for the whole machine.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "apartment_internal.h"
#include "call_slots.h"
#include "com/errorinfo.h"
#include "com/proxy.h"
#include "com/wire.h"
#include "sx/clock.h"
#include "sx/machine.h"
#include "sx/paths.h"
#include "sx/stale_temporaries.h"
#include "win32/process.h"
#include "win32/registry.h"

namespace sx::com {

namespace {

// Message kinds (the first byte of a frame's body).
constexpr std::uint8_t kCallMessage = 1;
constexpr std::uint8_t kQueryMessage = 2;
constexpr std::uint8_t kGetClassMessage = 3;
constexpr std::uint8_t kReplyMessage = 4;
constexpr std::uint8_t kReleaseMessage = 5;
// The first message of a connection: its call slots' memory, sent with the message.
constexpr std::uint8_t kSlotsMessage = 6;

constexpr std::uint32_t kMaxFrame = 16u << 20;
// Offsets in a frame: its length, its kind, a call's id.
constexpr std::size_t kKindAt = 4;
constexpr std::size_t kCallIdAt = 5;
constexpr std::size_t kCallHeader = 13;  // length, kind, call id
// The shortest reply body: kind, call id, HRESULT, flags.
constexpr std::size_t kShortestReply = 1 + 8 + 4 + 1;

// Kinds of reference.
constexpr std::uint8_t kNullReference = 0;
constexpr std::uint8_t kSendersObject = 1;    // counted for the receiver
constexpr std::uint8_t kReceiversObject = 2;  // a proxy going home

// Flags of a reply.
constexpr std::uint8_t kReplyHasError = 1;
constexpr std::uint8_t kReplyHasResults = 2;

// Asked of an interface pointer to learn whether it is a remote proxy; only remote proxy managers
// answer it, with themselves.
constexpr IID kRemoteManagerIid = guid("{5A0C0C0C-51A7-4F5E-9C1D-2B6E0F3A7D02}");

struct RemoteRegistry {
  std::mutex mutex;
  std::map<IID, detail::RemoteInterface, GuidLess> interfaces;
};
RemoteRegistry& remote_registry() {
  static auto* registry = new RemoteRegistry();  // never destroyed: proxies may die during exit
  return *registry;
}

// A frame with room for its length, its kind and (for a call) its id.
std::vector<std::uint8_t> frame_of(std::uint8_t kind) {
  std::vector<std::uint8_t> frame(kCallHeader, 0);
  frame[kKindAt] = kind;
  return frame;
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads `size` bytes; a descriptor that comes with them is kept in *received (one at most: others
// are closed, as is one that replaces an unclaimed one).
bool read_all(int fd, std::uint8_t* data, std::size_t size, int* received) {
  while (size > 0) {
    iovec io{data, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int passed = -1;
        std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
        if (*received >= 0) ::close(*received);
        *received = passed;
      }
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Sends the first message of a connection: its call slots' memory.
bool send_slots(int fd, int memory_fd) {
  std::uint8_t frame[5] = {1, 0, 0, 0, kSlotsMessage};
  iovec io{frame, sizeof frame};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&message);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(c), &memory_fd, sizeof memory_fd);
  for (;;) {
    const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(sizeof frame);
  }
}

// The error information of the calling thread, taken (empty strings and false when none).
bool take_error_info(BSTR* source, BSTR* description) {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return false;
  info->GetSource(source);
  info->GetDescription(description);
  info->Release();
  return true;
}

void set_error_info_texts(BSTR source, BSTR description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.ReleaseAndGetAddressOf())) || !create) return;
  create->SetSource(source);
  create->SetDescription(description);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.PutVoid()))) SetErrorInfo(0, info.Get());
}

}  // namespace

// --- Connections -------------------------------------------------------------------------------

// One connection between this process and another. Symmetric: either side calls objects of the
// other over it. A reader thread reads its messages and never runs work itself.
class RemoteConnection : public std::enable_shared_from_this<RemoteConnection> {
 public:
  struct Reply {
    HRESULT hr = E_UNEXPECTED;
    bool has_error = false;
    bool has_results = false;
    BSTR source = nullptr;
    BSTR description = nullptr;
    std::vector<std::uint8_t> body;
    std::size_t results_at = 0;
    RemoteConnection* decoding = nullptr;  // its results are being read (see begin_decoding)
    Reply() = default;
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply() {
      SysFreeString(source);
      SysFreeString(description);
      if (decoding != nullptr) decoding->end_decoding();
    }
  };

  // `slots`: the call slots of a connection this process opened (null for an accepted one, whose
  // slots come as its first message).
  RemoteConnection(int fd, std::unique_ptr<detail::CallSlots> slots)
      : fd_(fd), slots_owner_(std::move(slots)), slots_(slots_owner_.get()) {}
  ~RemoteConnection() {
    ::close(fd_);
    if (received_fd_ >= 0) ::close(received_fd_);
  }
  RemoteConnection(const RemoteConnection&) = delete;
  RemoteConnection& operator=(const RemoteConnection&) = delete;

  void start();
  bool alive() const { return alive_.load(std::memory_order_acquire); }
  // Sends a whole frame, its length filled in here, after `before` (whole frames, lengths filled)
  // when given; false when the connection is broken (it is closed then).
  bool send(std::vector<std::uint8_t>& frame, const std::vector<std::uint8_t>* before = nullptr);
  // Sends `frame` (a call, query or class request) and waits for its reply, serving the calling
  // apartment meanwhile. RPC_E_DISCONNECTED when the connection is or goes down first.
  HRESULT call(std::vector<std::uint8_t>& frame, Reply* reply);
  // Ends the connection: the reader sees its end and cleans up.
  void close() { ::shutdown(fd_, SHUT_RDWR); }
  // Sends the reply of call `id`.
  void reply(std::uint64_t id, HRESULT hr, bool with_error, wire::Writer* results);

  detail::CallSlots* slots() const { return slots_.load(std::memory_order_acquire); }
  // What the peer put in this side's call slot.
  void on_slot_call(const std::vector<std::uint8_t>& frames);

  // The peer gives back references it sent home in a reply only after that reply; while the
  // caller reads the reply's results, releases wait, so that the objects it names are still lent
  // out when it looks them up.
  void begin_decoding();
  void end_decoding();
  void release(std::vector<std::pair<std::uint64_t, std::size_t>>&& releases);

  // Gives back `count` references this process's proxies held on the peer's object `oid`: with
  // the next call or query on this connection, or at once (`now`, or when many wait).
  void give_back(std::uint64_t oid, std::size_t count, bool now);
  // Sends the references waiting to be given back.
  void give_back_now();

  // Proxies of the peer's objects, by oid. Guarded by imports_mutex.
  std::mutex imports_mutex;
  std::map<std::uint64_t, RemoteProxyManager*> imports;

 private:
  void read_loop();
  void on_message(std::vector<std::uint8_t>&& body);
  void on_reply(std::vector<std::uint8_t>&& body);
  // Fills `reply` from a reply message (its id read already).
  void read_reply(std::vector<std::uint8_t>&& body, Reply* reply);
  // Watches the reply slot for call `id` (watched before the call went), then ends the watch:
  // true when the reply came there and is in *reply.
  bool reply_from_slot(detail::CallSlots& slots, std::uint64_t id, Reply* reply);
  void on_closed();
  // A release frame (length filled in) of the references waiting to be given back, taken; empty
  // when none wait.
  std::vector<std::uint8_t> take_give_backs();

  const int fd_;
  std::unique_ptr<detail::CallSlots> slots_owner_;  // set once: here, or by the reader
  std::atomic<detail::CallSlots*> slots_;
  int received_fd_ = -1;  // the reader's: a descriptor the peer sent, until its message is read
  std::atomic<bool> alive_{true};
  std::mutex send_mutex_;
  std::mutex pending_mutex_;
  struct Pending {
    detail::IncomingCall* waiter;
    Reply* reply;
  };
  std::unordered_map<std::uint64_t, Pending> pending_;
  std::uint64_t next_call_ = 1;
  std::mutex release_mutex_;
  int decoding_ = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> waiting_releases_;
  std::mutex give_back_mutex_;
  std::vector<std::pair<std::uint64_t, std::size_t>> giving_back_;
};

namespace {

// --- Remote exports: the objects of this process others hold -----------------------------------

struct RemoteExport {
  detail::HomeReference reference;
  std::size_t total = 0;  // references every connection holds
};

struct Exports {
  std::mutex mutex;
  std::uint64_t next_oid = 1;
  std::unordered_map<std::uint64_t, RemoteExport> by_oid;
  std::map<std::pair<IUnknown*, std::uint64_t>, std::uint64_t> by_object;
  std::map<const RemoteConnection*, std::unordered_map<std::uint64_t, std::size_t>> held;
};
Exports& exports() {
  static auto* table = new Exports();
  return *table;
}

// Counts one reference of `connection`'s peer on the object of `reference` (which owns one
// reference at home); the oid. When the object was lent out already, `reference` is left to the
// caller to give back (*duplicate).
std::uint64_t add_export(detail::HomeReference&& reference, const RemoteConnection* connection,
                         bool* duplicate) {
  Exports& e = exports();
  std::lock_guard lock(e.mutex);
  // A connection marks itself closed before it gives back what its peer held: nothing is counted
  // for it after that.
  if (!connection->alive()) throw wire::Failure{RPC_E_DISCONNECTED};
  const auto key = std::make_pair(reference.identity, reference.serial);
  std::uint64_t oid = 0;
  if (auto it = e.by_object.find(key); it != e.by_object.end()) {
    oid = it->second;
    *duplicate = true;
  } else {
    oid = e.next_oid++;
    e.by_object.emplace(key, oid);
    e.by_oid[oid].reference = std::move(reference);
    *duplicate = false;
  }
  ++e.by_oid[oid].total;
  ++e.held[connection][oid];
  return oid;
}

// A view of the export `oid` (it owns nothing); false when there is none.
bool find_export_view(std::uint64_t oid, detail::HomeReference* view) {
  Exports& e = exports();
  std::lock_guard lock(e.mutex);
  auto it = e.by_oid.find(oid);
  if (it == e.by_oid.end()) return false;
  *view = it->second.reference;
  return true;
}

// Gives back, in the object's apartment and without waiting, the reference an export owned.
class ReleaseAtHome;
void let_go(std::vector<detail::HomeReference>&& gone);

// Gives back `count` references of `connection`'s peer on `oid` (all of them with `count` 0 and
// `all`), collecting exports nobody holds any more into *gone.
void drop_references(Exports& e, const RemoteConnection* connection, std::uint64_t oid,
                     std::size_t count, std::vector<detail::HomeReference>* gone) {
  auto held = e.held.find(connection);
  if (held == e.held.end()) return;
  auto mine = held->second.find(oid);
  if (mine == held->second.end()) return;
  count = std::min(count, mine->second);
  mine->second -= count;
  if (mine->second == 0) held->second.erase(mine);
  auto it = e.by_oid.find(oid);
  if (it == e.by_oid.end()) return;
  it->second.total -= std::min(count, it->second.total);
  if (it->second.total == 0) {
    e.by_object.erase({it->second.reference.identity, it->second.reference.serial});
    gone->push_back(std::move(it->second.reference));
    e.by_oid.erase(it);
  }
}

void release_references(const RemoteConnection* connection,
                        const std::vector<std::pair<std::uint64_t, std::size_t>>& releases) {
  std::vector<detail::HomeReference> gone;
  {
    Exports& e = exports();
    std::lock_guard lock(e.mutex);
    for (const auto& [oid, count] : releases) drop_references(e, connection, oid, count, &gone);
  }
  let_go(std::move(gone));
}

void release_all_references(const RemoteConnection* connection) {
  std::vector<detail::HomeReference> gone;
  {
    Exports& e = exports();
    std::lock_guard lock(e.mutex);
    auto held = e.held.find(connection);
    if (held == e.held.end()) return;
    std::vector<std::pair<std::uint64_t, std::size_t>> all(held->second.begin(),
                                                           held->second.end());
    for (const auto& [oid, count] : all) drop_references(e, connection, oid, count, &gone);
    e.held.erase(connection);
  }
  let_go(std::move(gone));
}

// --- Work queued into an apartment without anyone waiting for it ------------------------------

// A call nobody waits for: run on the apartment's thread, then finished (also when it was given
// up, `dropped`) and freed.
class DetachedCall : public detail::IncomingCall {
 public:
  explicit DetachedCall(bool references)
      : IncomingCall(runner_, references, kDetached), runner_{this} {}
  virtual ~DetachedCall() = default;
  DetachedCall(const DetachedCall&) = delete;
  DetachedCall& operator=(const DetachedCall&) = delete;

  // On the apartment's thread.
  virtual void run() = 0;
  // After it ran or was given up; on any thread, outside the kernel lock.
  virtual void finished() {}

  // Queues it into `home`; when `home` has ended it is finished as given up at once. Takes it.
  static void post(const std::shared_ptr<detail::Apartment>& home, DetachedCall* call) {
    if (home && detail::post_detached(*home, *call)) return;
    call->dropped = true;
    detail::finish_detached_call(call);
  }

 private:
  struct Runner {
    DetachedCall* self;
    void operator()() const { self->run(); }
  };
  Runner runner_;
};

// Gives back references that live in one apartment.
class ReleaseAtHome final : public DetachedCall {
 public:
  ReleaseAtHome() : DetachedCall(true) {}
  void add(detail::HomeReference&& reference) { references_.push_back(std::move(reference)); }
  void run() override {
    for (detail::HomeReference& reference : references_) {
      if (reference.agile) {
        reference.agile = nullptr;
      } else {
        detail::release_export(*reference.home, reference.identity, reference.serial, 1);
      }
    }
  }
  // An ended apartment has cut its exports already; a free-threaded object is let go anywhere.
  void finished() override {
    for (detail::HomeReference& reference : references_) reference.agile = nullptr;
  }

 private:
  std::vector<detail::HomeReference> references_;
};

void let_go(std::vector<detail::HomeReference>&& gone) {
  std::map<std::shared_ptr<detail::Apartment>, std::unique_ptr<ReleaseAtHome>> by_home;
  for (detail::HomeReference& reference : gone) {
    auto& release = by_home[reference.home];
    if (!release) release = std::make_unique<ReleaseAtHome>();
    release->add(std::move(reference));
  }
  for (auto& [home, release] : by_home) DetachedCall::post(home, release.release());
}

}  // namespace

namespace detail {

void finish_detached_call(IncomingCall* call) {
  auto* detached = static_cast<DetachedCall*>(call);
  try {
    detached->finished();
  } catch (...) {
    // Nothing leaves the thread that finished it.
  }
  delete detached;
}

}  // namespace detail

// --- Remote proxies ------------------------------------------------------------------------------

// The proxies this process holds of one object of another process, over one connection: the
// object's identity here, its interface proxies, and the references it owns at home.
class RemoteProxyManager final : public IUnknown {
 public:
  RemoteProxyManager(std::shared_ptr<RemoteConnection> connection, std::uint64_t oid)
      : connection_(std::move(connection)), oid_(oid) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;

  // Adds the proxy of `iid` (known to be answered) unless there is one; *out AddRef'd if asked.
  HRESULT add_interface(REFIID iid, void** out);

  const std::shared_ptr<RemoteConnection>& connection() const { return connection_; }
  std::uint64_t oid() const { return oid_; }

  // Guarded by connection_->imports_mutex.
  std::size_t wire_references = 0;

 private:
  ~RemoteProxyManager() = default;

  const std::shared_ptr<RemoteConnection> connection_;
  const std::uint64_t oid_;
  std::atomic<ULONG> refs_{0};
  std::mutex mutex_;
  std::map<IID, std::unique_ptr<detail::RemoteInterfaceProxyBase>, GuidLess> interfaces_;
};

namespace {

RemoteProxyManager* as_remote_manager(IUnknown* object) {
  void* manager = nullptr;
  if (FAILED(object->QueryInterface(kRemoteManagerIid, &manager)) || manager == nullptr) {
    return nullptr;
  }
  auto* m = static_cast<RemoteProxyManager*>(manager);
  m->Release();  // the caller's pointer keeps it alive
  return m;
}

// The proxy manager of the peer's object `oid`, made when there is none, owning one more
// reference at home. Returned AddRef'd.
ComPtr<RemoteProxyManager> attach_remote_manager(const std::shared_ptr<RemoteConnection>& connection,
                                                 std::uint64_t oid) {
  std::lock_guard lock(connection->imports_mutex);
  auto& slot = connection->imports[oid];
  if (slot == nullptr) slot = new RemoteProxyManager(connection, oid);
  ComPtr<RemoteProxyManager> manager(slot);
  ++slot->wire_references;
  return manager;
}

}  // namespace

ULONG RemoteProxyManager::Release() {
  const ULONG left = --refs_;
  if (left != 0) return left;
  std::size_t references = 0;
  bool last = false;
  {
    std::lock_guard lock(connection_->imports_mutex);
    if (refs_ != 0) return refs_;  // found again meanwhile by an unmarshal
    auto it = connection_->imports.find(oid_);
    if (it != connection_->imports.end() && it->second == this) connection_->imports.erase(it);
    references = std::exchange(wire_references, 0);
    last = connection_->imports.empty();
  }
  if (references > 0) {
    // As between apartments: the release of the last proxy into the process, and one outside a
    // single-threaded apartment, go at once; others go with the next call there.
    try {
      connection_->give_back(oid_, references,
                             last || current_apartment() != ApartmentKind::kSingleThreaded);
    } catch (...) {
      // Out of memory: the references go when the connection closes.
    }
  }
  delete this;
  return 0;
}

HRESULT RemoteProxyManager::add_interface(REFIID iid, void** out) {
  const detail::RemoteInterface* remote = detail::find_remote(iid);
  if (remote == nullptr) return E_NOINTERFACE;
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(iid);
  if (it == interfaces_.end()) {
    try {
      it = interfaces_
               .emplace(iid, std::unique_ptr<detail::RemoteInterfaceProxyBase>(
                                 remote->make_proxy(this)))
               .first;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  if (out != nullptr) {
    IUnknown* proxy = it->second->unknown();
    proxy->AddRef();
    *out = proxy;
  }
  return S_OK;
}

STDMETHODIMP RemoteProxyManager::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == kRemoteManagerIid || iid == IID_IAgileObject) {
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  {
    std::lock_guard lock(mutex_);
    if (auto it = interfaces_.find(iid); it != interfaces_.end()) {
      IUnknown* proxy = it->second->unknown();
      proxy->AddRef();
      *out = proxy;
      return S_OK;
    }
  }
  if (detail::find_remote(iid) == nullptr) return E_NOINTERFACE;
  if (current_apartment() == ApartmentKind::kNone) return CO_E_NOTINITIALIZED;
  try {
    auto frame = frame_of(kQueryMessage);
    wire::Writer w(connection_.get());
    w.u64(oid_);
    w.value(iid);
    frame.insert(frame.end(), w.data().begin(), w.data().end());
    RemoteConnection::Reply reply;
    if (const HRESULT delivered = connection_->call(frame, &reply); FAILED(delivered)) {
      return delivered;
    }
    if (FAILED(reply.hr)) return reply.hr;
    return add_interface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

namespace detail {

bool register_remote(REFIID iid, const RemoteInterface& entry) {
  RemoteRegistry& r = remote_registry();
  std::lock_guard lock(r.mutex);
  r.interfaces[iid] = entry;
  return true;
}

const RemoteInterface* find_remote(REFIID iid) {
  RemoteRegistry& r = remote_registry();
  std::lock_guard lock(r.mutex);
  auto it = r.interfaces.find(iid);
  return it == r.interfaces.end() ? nullptr : &it->second;  // entries are never removed
}

HRESULT RemoteInterfaceProxyBase::remote_query(REFIID iid, void** out) {
  return manager_->QueryInterface(iid, out);
}
ULONG RemoteInterfaceProxyBase::remote_add_ref() { return manager_->AddRef(); }
ULONG RemoteInterfaceProxyBase::remote_release() { return manager_->Release(); }

HRESULT RemoteInterfaceProxyBase::remote_call(std::uint32_t method,
                                              FunctionRef<void(wire::Writer&)> write,
                                              FunctionRef<void(wire::Reader&)> read,
                                              HRESULT* result) {
  if (current_apartment() == ApartmentKind::kNone) return CO_E_NOTINITIALIZED;
  const std::shared_ptr<RemoteConnection>& connection = manager_->connection();
  if (!connection->alive()) return RPC_E_DISCONNECTED;
  wire::Writer w(connection.get());
  w.data() = frame_of(kCallMessage);
  w.u64(manager_->oid());
  w.value(iid_);
  w.u32(method);
  write(w);
  RemoteConnection::Reply reply;
  if (const HRESULT delivered = connection->call(w.data(), &reply); FAILED(delivered)) {
    return delivered;
  }
  *result = reply.hr;
  if (reply.has_error) {
    set_error_info_texts(reply.source, reply.description);
  } else {
    SetErrorInfo(0, nullptr);
  }
  if (reply.has_results) {
    wire::Reader r(connection.get(), reply.body.data() + reply.results_at,
                   reply.body.size() - reply.results_at);
    read(r);
    if (!r.at_end()) return RPC_X_BAD_STUB_DATA;
  }
  return S_OK;
}

}  // namespace detail

// --- Texts, VARIANTs and references on the wire ------------------------------------------------

namespace wire {

void Writer::text(const OLECHAR* text) {
  if (text == nullptr) {
    u8(0);
    return;
  }
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  this->text(text, length);
}

void Writer::text(const OLECHAR* text, std::size_t length) {
  if (text == nullptr) {
    u8(0);
    return;
  }
  if (length > kMaxFrame / sizeof(OLECHAR)) throw Failure{E_OUTOFMEMORY};
  u8(1);
  u32(static_cast<std::uint32_t>(length));
  bytes(text, length * sizeof(OLECHAR));
}

BSTR Reader::text() {
  const std::uint8_t present = u8();
  if (present == 0) return nullptr;
  if (present != 1) throw Failure{RPC_X_BAD_STUB_DATA};
  const std::uint32_t length = u32();
  if (length > left() / sizeof(OLECHAR)) throw Failure{RPC_X_BAD_STUB_DATA};
  BSTR text = SysAllocStringLen(nullptr, length);
  if (text == nullptr) throw Failure{E_OUTOFMEMORY};
  bytes(text, length * sizeof(OLECHAR));
  return text;
}

namespace {
bool is_plain_number(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BOOL: case VT_ERROR:
      return true;
    default:
      return false;
  }
}
}  // namespace

void Writer::variant(const VARIANT& v) {
  const VARIANT* source = &v;
  VARIANT copy;
  VariantInit(&copy);
  struct Clear {
    VARIANT* v;
    ~Clear() { VariantClear(v); }
  } clear{&copy};
  if ((v.vt & VT_BYREF) != 0) {
    if ((v.vt & VT_ARRAY) != 0) throw Failure{DISP_E_BADVARTYPE};
    if (const HRESULT hr = VariantCopyInd(&copy, &v); FAILED(hr)) throw Failure{hr};
    source = &copy;
  }
  const VARTYPE vt = source->vt;
  if (vt == VT_EMPTY || vt == VT_NULL) {
    value(vt);
  } else if (is_plain_number(vt)) {
    value(vt);
    value(source->llVal);
  } else if (vt == VT_BSTR) {
    value(vt);
    text(source->bstrVal, source->bstrVal ? SysStringLen(source->bstrVal) : 0);
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    value(vt);
    reference(source->punkVal, vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown);
  } else {
    throw Failure{DISP_E_BADVARTYPE};  // arrays, records, decimals
  }
}

void Reader::variant(VARIANT* out) {
  const VARTYPE vt = value<VARTYPE>();
  if (vt == VT_EMPTY || vt == VT_NULL) {
    out->vt = vt;
  } else if (is_plain_number(vt)) {
    out->llVal = value<LONGLONG>();
    out->vt = vt;
  } else if (vt == VT_BSTR) {
    BSTR text = this->text();
    if (text == nullptr) text = SysAllocStringLen(nullptr, 0);
    out->bstrVal = text;
    out->vt = VT_BSTR;
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    void* object = nullptr;
    reference(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
    out->punkVal = static_cast<IUnknown*>(object);
    out->vt = vt;
  } else {
    throw Failure{RPC_X_BAD_STUB_DATA};
  }
}

void Writer::reference(IUnknown* object, REFIID iid) {
  if (object == nullptr) {
    u8(kNullReference);
    return;
  }
  if (connection_ == nullptr) throw Failure{CO_E_NOT_SUPPORTED};
  if (RemoteProxyManager* manager = as_remote_manager(object)) {
    // A proxy going home is the object itself there; one of a third process cannot be passed on.
    if (manager->connection().get() != connection_) throw Failure{CO_E_NOT_SUPPORTED};
    keep_alive_.emplace_back(object);
    u8(kReceiversObject);
    u64(manager->oid());
    value(iid);
    return;
  }
  detail::HomeReference reference;
  if (const HRESULT hr = detail::export_home(object, iid, &reference); FAILED(hr)) {
    throw Failure{hr};
  }
  // The object keeps its first export's reference; one made again is given back.
  detail::HomeReference extra = reference;
  bool duplicate = false;
  std::uint64_t oid = 0;
  try {
    oid = add_export(std::move(reference), connection_, &duplicate);
  } catch (const Failure&) {
    detail::release_home(extra);
    throw;
  }
  if (duplicate) detail::release_home(extra);
  u8(kSendersObject);
  u64(oid);
  value(iid);
}

void Reader::reference(REFIID iid, void** out) {
  *out = nullptr;
  const std::uint8_t kind = u8();
  if (kind == kNullReference) return;
  if (kind != kSendersObject && kind != kReceiversObject) throw Failure{RPC_X_BAD_STUB_DATA};
  const std::uint64_t oid = u64();
  const IID sent = value<IID>();
  if (connection_ == nullptr) throw Failure{RPC_X_BAD_STUB_DATA};
  if (kind == kReceiversObject) {
    detail::HomeReference view;
    if (!find_export_view(oid, &view)) throw Failure{RPC_E_DISCONNECTED};
    if (const HRESULT hr = detail::unmarshal_home(view, iid, out); FAILED(hr)) throw Failure{hr};
    return;
  }
  ComPtr<RemoteProxyManager> manager =
      attach_remote_manager(connection_->shared_from_this(), oid);
  (void)manager->add_interface(sent, nullptr);
  if (const HRESULT hr = manager->QueryInterface(iid, out); FAILED(hr)) throw Failure{hr};
}

}  // namespace wire

// --- Calls coming in ---------------------------------------------------------------------------

namespace {

struct PublishedClass {
  CLSID clsid = GUID_NULL;
  ComPtr<IUnknown> factory;
  std::shared_ptr<detail::Apartment> home;
  std::filesystem::path file;
};
struct Published {
  std::mutex mutex;
  std::map<DWORD, PublishedClass> by_cookie;
};
Published& published() {
  static auto* table = new Published();
  return *table;
}

// IDispatch's methods on the object's side.
HRESULT dispatch_stub(IDispatch* object, std::uint32_t method, wire::Reader& in,
                      wire::Writer& out) {
  switch (method) {
    case detail::kGetTypeInfoCount: {
      if (!in.at_end()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
      UINT count = 0;
      const HRESULT hr = object->GetTypeInfoCount(&count);
      out.u32(count);
      return hr;
    }
    case detail::kGetTypeInfo: {
      const UINT index = in.u32();
      const LCID lcid = in.value<LCID>();
      if (!in.at_end()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
      ITypeInfo* info = nullptr;
      HRESULT hr = object->GetTypeInfo(index, lcid, &info);
      if (info != nullptr) {
        reinterpret_cast<IUnknown*>(info)->Release();  // type information does not cross
        hr = E_NOTIMPL;
      }
      return hr;
    }
    case detail::kGetIDsOfNames: {
      const IID iid = in.value<IID>();
      const std::uint32_t count = in.u32();
      if (count > in.left()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
      std::vector<wire::TextSlot> names(count);
      std::vector<LPOLESTR> pointers(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        names[i].text = in.text();
        pointers[i] = names[i].text;
      }
      const LCID lcid = in.value<LCID>();
      if (!in.at_end()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
      std::vector<DISPID> ids(count, DISPID_UNKNOWN);
      const HRESULT hr = object->GetIDsOfNames(iid, pointers.data(), count, lcid, ids.data());
      for (DISPID id : ids) out.value(id);
      return hr;
    }
    case detail::kInvoke: {
      const DISPID member = in.value<DISPID>();
      const IID iid = in.value<IID>();
      const LCID lcid = in.value<LCID>();
      const WORD flags = in.value<WORD>();
      const bool has_params = in.u8() != 0;
      std::uint32_t count = 0;
      std::vector<wire::VariantSlot> args;
      std::vector<VARIANT> held;
      std::vector<DISPID> named;
      if (has_params) {
        count = in.u32();
        if (count > in.left()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
        args = std::vector<wire::VariantSlot>(count);
        for (auto& arg : args) in.variant(&arg.value);
        const std::uint32_t named_count = in.u32();
        if (named_count > in.left()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
        for (std::uint32_t i = 0; i < named_count; ++i) named.push_back(in.value<DISPID>());
        for (auto& arg : args) held.push_back(arg.value);  // the slots still own them
      }
      const bool want_result = in.u8() != 0;
      const bool want_excep = in.u8() != 0;
      const bool want_arg_error = in.u8() != 0;
      if (!in.at_end()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
      DISPPARAMS params{held.data(), named.data(), count, static_cast<UINT>(named.size())};
      wire::VariantSlot result;
      EXCEPINFO excep{};
      UINT arg_error = 0;
      const HRESULT hr =
          object->Invoke(member, iid, lcid, flags, has_params ? &params : nullptr,
                         want_result ? &result.value : nullptr, want_excep ? &excep : nullptr,
                         want_arg_error ? &arg_error : nullptr);
      if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
      struct FreeExcep {
        EXCEPINFO* e;
        ~FreeExcep() {
          SysFreeString(e->bstrSource);
          SysFreeString(e->bstrDescription);
          SysFreeString(e->bstrHelpFile);
        }
      } free_excep{&excep};
      if (want_result) {
        if (FAILED(hr)) VariantClear(&result.value);
        out.variant(result.value);
      }
      if (want_excep) {
        out.value(excep.wCode);
        out.value(excep.scode);
        out.value(excep.dwHelpContext);
        out.text(excep.bstrSource);
        out.text(excep.bstrDescription);
        out.text(excep.bstrHelpFile);
      }
      if (want_arg_error) out.u32(arg_error);
      return hr;
    }
    default:
      throw wire::Failure{RPC_X_BAD_STUB_DATA};
  }
}

}  // namespace

HRESULT detail::run_remote_method(const RemoteInterface& remote, IUnknown* target,
                                  std::uint32_t method, wire::Reader& in, wire::Writer& out) {
  if (method < kFirstMember) {
    if (remote.as_dispatch == nullptr) throw wire::Failure{RPC_X_BAD_STUB_DATA};
    return dispatch_stub(remote.as_dispatch(target), method, in, out);
  }
  const std::uint32_t index = method - kFirstMember;
  if (index >= remote.stub_count) throw wire::Failure{RPC_X_BAD_STUB_DATA};
  return remote.stubs[index](target, in, out);
}

namespace {

// A call, query or class request from the peer, run in the object's apartment.
class IncomingRemoteCall final : public DetachedCall {
 public:
  enum class Kind { kCall, kQuery, kGetClass };

  IncomingRemoteCall(Kind kind, std::shared_ptr<RemoteConnection> connection, std::uint64_t id,
                     detail::HomeReference target, std::vector<std::uint8_t>&& body,
                     std::size_t args_at)
      : DetachedCall(kind != Kind::kCall),
        kind_(kind),
        connection_(std::move(connection)),
        id_(id),
        target_(std::move(target)),
        body_(std::move(body)),
        args_at_(args_at) {}

  void run() override {
    try {
      run_call();
    } catch (const wire::Failure& failure) {
      answer(failure.hr, false, nullptr);
    } catch (...) {
      answer(E_UNEXPECTED, false, nullptr);
    }
  }
  void finished() override {
    if (!answered_) answer(RPC_E_DISCONNECTED, false, nullptr);
    target_.agile = nullptr;
  }

 private:
  void answer(HRESULT hr, bool with_error, wire::Writer* results) {
    answered_ = true;
    connection_->reply(id_, hr, with_error, results);
  }

  void run_call() {
    wire::Reader in(connection_.get(), body_.data() + args_at_, body_.size() - args_at_);
    wire::Writer out(connection_.get());
    if (kind_ == Kind::kGetClass) {
      const CLSID clsid = in.value<CLSID>();
      ComPtr<IUnknown> factory;
      {
        Published& p = published();
        std::lock_guard lock(p.mutex);
        for (auto& [cookie, entry] : p.by_cookie) {
          if (entry.clsid == clsid && entry.home.get() == detail::current_apartment_raw()) {
            factory = entry.factory;
          }
        }
      }
      if (!factory) return answer(REGDB_E_CLASSNOTREG, false, nullptr);
      out.reference(factory.Get(), IID_IClassFactory);
      return answer(S_OK, false, &out);
    }
    const IID iid = in.value<IID>();
    HRESULT found = S_OK;
    IUnknown* target = detail::interface_at_home(target_, iid, &found);
    if (kind_ == Kind::kQuery) return answer(target != nullptr ? S_OK : found, false, nullptr);
    const std::uint32_t method = in.u32();
    if (target == nullptr) return answer(found, false, nullptr);
    const detail::RemoteInterface* remote = detail::find_remote(iid);
    if (remote == nullptr) return answer(E_NOINTERFACE, false, nullptr);
    SetErrorInfo(0, nullptr);
    const HRESULT hr = detail::run_remote_method(*remote, target, method, in, out);
    answer(hr, true, &out);
  }

  const Kind kind_;
  const std::shared_ptr<RemoteConnection> connection_;
  const std::uint64_t id_;
  detail::HomeReference target_;  // a view: owns nothing but a free-threaded object's reference
  std::vector<std::uint8_t> body_;
  const std::size_t args_at_;
  bool answered_ = false;
};

// --- The process's endpoint and its connections ------------------------------------------------

struct Endpoint {
  std::mutex mutex;
  unsigned generation = ~0u;  // of the machine root the listener was made for
  int listen_fd = -1;
  std::string path;
  std::map<std::string, std::weak_ptr<RemoteConnection>> outgoing;  // by the server's socket
  std::set<std::shared_ptr<RemoteConnection>> open;                 // until they close
};
Endpoint& endpoint() {
  static auto* e = new Endpoint();
  return *e;
}

std::filesystem::path com_folder() { return sx::machine::root() / "com"; }

bool fill_address(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.size() + 1 > sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::shared_ptr<RemoteConnection> adopt(int fd,
                                        std::unique_ptr<detail::CallSlots> slots = nullptr) {
  auto connection = std::make_shared<RemoteConnection>(fd, std::move(slots));
  {
    Endpoint& e = endpoint();
    std::lock_guard lock(e.mutex);
    e.open.insert(connection);
  }
  connection->start();
  return connection;
}

void accept_loop(int fd) {
  for (;;) {
    const int peer = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;  // the listener was shut down (a new machine root) or failed
    }
    try {
      adopt(peer);
    } catch (...) {
      ::close(peer);
    }
  }
  ::close(fd);
}

// The socket this process listens on for the current machine root, made on first use.
HRESULT ensure_listening(std::string* path) {
  Endpoint& e = endpoint();
  std::lock_guard lock(e.mutex);
  const unsigned generation = sx::machine::root_generation();
  if (e.listen_fd >= 0 && e.generation == generation) {
    *path = e.path;
    return S_OK;
  }
  if (e.listen_fd >= 0) {
    ::shutdown(e.listen_fd, SHUT_RDWR);  // its thread ends and closes it
    e.listen_fd = -1;
  }
  std::error_code ec;
  std::filesystem::create_directories(com_folder() / "classes", ec);
  const std::string socket_path = (com_folder() / ("p" + std::to_string(::getpid()) + ".sock")).string();
  sockaddr_un address;
  if (!fill_address(socket_path, &address)) return CO_E_SERVER_EXEC_FAILURE;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return CO_E_SERVER_EXEC_FAILURE;
  ::unlink(socket_path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 64) != 0) {
    ::close(fd);
    return CO_E_SERVER_EXEC_FAILURE;
  }
  try {
    std::thread(accept_loop, fd).detach();
  } catch (...) {
    ::close(fd);
    return E_OUTOFMEMORY;
  }
  e.listen_fd = fd;
  e.generation = generation;
  e.path = socket_path;
  *path = socket_path;
  return S_OK;
}

// The connection to the process listening at `path`, opened when there is none; null when nobody
// answers there.
std::shared_ptr<RemoteConnection> connect_to(const std::string& path) {
  Endpoint& e = endpoint();
  {
    std::lock_guard lock(e.mutex);
    if (auto it = e.outgoing.find(path); it != e.outgoing.end()) {
      if (auto connection = it->second.lock(); connection && connection->alive()) return connection;
    }
  }
  sockaddr_un address;
  if (!fill_address(path, &address)) return nullptr;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return nullptr;
  }
  // Without shared memory, or when it cannot be sent, every message goes over the socket.
  int memory_fd = -1;
  std::unique_ptr<detail::CallSlots> slots = detail::CallSlots::create(&memory_fd);
  if (slots && !send_slots(fd, memory_fd)) slots.reset();
  if (memory_fd >= 0) ::close(memory_fd);
  auto connection = adopt(fd, std::move(slots));
  std::lock_guard lock(e.mutex);
  e.outgoing[path] = connection;
  return connection;
}

// The connection whose call this thread answered last (see detail::begin_remote_call_watch).
thread_local std::weak_ptr<RemoteConnection> t_answered_last;

}  // namespace

namespace detail {

RemoteCallWatch begin_remote_call_watch() {
  RemoteCallWatch watch;
  if (t_answered_last.expired()) return watch;
  watch.connection = t_answered_last.lock();
  if (!watch.connection || !watch.connection->alive()) return {};
  CallSlots* slots = watch.connection->slots();
  if (slots != nullptr && slots->watch_calls()) watch.slots = slots;
  return watch;
}

bool remote_call_came(const RemoteCallWatch& watch) { return watch.slots->call_came(); }

void give_back_remote_references() {
  std::vector<std::shared_ptr<RemoteConnection>> open;
  {
    Endpoint& e = endpoint();
    std::lock_guard lock(e.mutex);
    open.assign(e.open.begin(), e.open.end());
  }
  for (const auto& connection : open) {
    try {
      connection->give_back_now();
    } catch (...) {
      // Out of memory: they go when the connection closes.
    }
  }
}

void end_remote_call_watch(RemoteCallWatch& watch) {
  if (watch.slots == nullptr) return;
  CallSlots* slots = std::exchange(watch.slots, nullptr);
  RemoteConnection& connection = *watch.connection;
  try {
    std::vector<std::uint8_t> body;
    if (slots->end_call_watch(&body, [&connection] { return connection.alive(); })) {
      connection.on_slot_call(body);
    }
  } catch (...) {
    connection.close();  // out of memory: the call cannot be answered, the peer sees the end
  }
}

}  // namespace detail

void RemoteConnection::start() {
  auto self = shared_from_this();
  std::thread([self] { self->read_loop(); }).detach();
}

bool RemoteConnection::send(std::vector<std::uint8_t>& frame,
                            const std::vector<std::uint8_t>* before) {
  const auto length = static_cast<std::uint32_t>(frame.size() - 4);
  std::memcpy(frame.data(), &length, 4);
  std::lock_guard lock(send_mutex_);
  if (!alive() || (before != nullptr && !write_all(fd_, before->data(), before->size())) ||
      !write_all(fd_, frame.data(), frame.size())) {
    close();
    return false;
  }
  return true;
}

HRESULT RemoteConnection::call(std::vector<std::uint8_t>& frame, Reply* reply) {
  static constexpr auto kNothing = [] {};
  detail::IncomingCall waiter(kNothing, false, detail::IncomingCall::kWatching);
  std::uint64_t id = 0;
  {
    std::lock_guard lock(pending_mutex_);
    if (!alive()) return RPC_E_DISCONNECTED;
    id = next_call_++;
    pending_.emplace(id, Pending{&waiter, reply});
  }
  std::memcpy(frame.data() + kCallIdAt, &id, sizeof id);
  const auto length = static_cast<std::uint32_t>(frame.size() - 4);
  std::memcpy(frame.data(), &length, 4);
  const std::vector<std::uint8_t> releases = take_give_backs();
  // The reply slot is watched before the call goes, so that a quick answer finds it watched.
  detail::CallSlots* slots = this->slots();
  const bool watching = slots != nullptr && slots->watch_reply(id);
  if (slots == nullptr || !slots->offer_call({releases.data(), releases.size()},
                                             {frame.data(), frame.size()})) {
    (void)send(frame, &releases);  // a broken connection closes: its end gives the call up
  }
  if (watching && reply_from_slot(*slots, id, reply)) return S_OK;
  detail::wait_until_done(waiter, !watching);
  return waiter.dropped ? RPC_E_DISCONNECTED : S_OK;
}

bool RemoteConnection::reply_from_slot(detail::CallSlots& slots, std::uint64_t id, Reply* reply) {
  // A call coming into this apartment meanwhile (a sink called back) ends the watch: the wait
  // that follows serves it, and the reply comes over the socket.
  detail::Apartment* me = detail::current_apartment_raw();
  const std::uint64_t arrivals = me != nullptr ? me->arrivals.load(std::memory_order_acquire) : 0;
  detail::watch_briefly_for([&] {
    return slots.reply_came(id) || !alive() ||
           (me != nullptr && me->arrivals.load(std::memory_order_acquire) != arrivals);
  });
  // Releases the peer sends after this reply wait until it has been read (see release()).
  begin_decoding();
  struct EndDecoding {
    RemoteConnection* connection;
    ~EndDecoding() { connection->end_decoding(); }
  } end{this};
  std::vector<std::uint8_t> body;
  if (!slots.end_reply_watch(id, &body, [this] { return alive(); })) return false;
  {
    std::lock_guard lock(pending_mutex_);
    // Gone when the connection ended meanwhile: its end gave the call up.
    if (pending_.erase(id) == 0) return false;
  }
  if (body.size() < kShortestReply || body[0] != kReplyMessage) {
    reply->hr = RPC_X_BAD_STUB_DATA;
    return true;
  }
  read_reply(std::move(body), reply);
  return true;
}

void RemoteConnection::on_slot_call(const std::vector<std::uint8_t>& frames) {
  // Whole frames, as on the socket: releases, then a call, query or class request.
  const bool framed = detail::CallSlots::for_each_frame(
      frames.data(), frames.size(), [this](const std::uint8_t* body, std::size_t length) {
        const std::uint8_t kind = body[0];
        if (kind == kReleaseMessage || kind == kCallMessage || kind == kQueryMessage ||
            kind == kGetClassMessage) {
          on_message(std::vector<std::uint8_t>(body, body + length));
        }
      });
  if (!framed) close();  // as a socket whose bytes cannot be framed: the peer is broken
}

void RemoteConnection::give_back(std::uint64_t oid, std::size_t count, bool now) {
  // More waiting than this go at once, so that a long walk keeps little alive at home.
  constexpr std::size_t kMostWaiting = 1024;
  {
    std::lock_guard lock(give_back_mutex_);
    giving_back_.emplace_back(oid, count);
    if (!now && giving_back_.size() < kMostWaiting) return;
  }
  give_back_now();
}

void RemoteConnection::give_back_now() {
  std::vector<std::uint8_t> releases = take_give_backs();
  if (!releases.empty()) (void)send(releases);
}

std::vector<std::uint8_t> RemoteConnection::take_give_backs() {
  std::vector<std::pair<std::uint64_t, std::size_t>> releases;
  {
    std::lock_guard lock(give_back_mutex_);
    if (giving_back_.empty()) return {};
    releases.swap(giving_back_);
  }
  auto frame = frame_of(kReleaseMessage);
  frame.resize(kCallIdAt);  // no call id
  wire::Writer w(this);
  w.u32(static_cast<std::uint32_t>(releases.size()));
  for (const auto& [oid, count] : releases) {
    w.u64(oid);
    w.u32(static_cast<std::uint32_t>(count));
  }
  frame.insert(frame.end(), w.data().begin(), w.data().end());
  const auto length = static_cast<std::uint32_t>(frame.size() - 4);
  std::memcpy(frame.data(), &length, 4);
  return frame;
}

void RemoteConnection::reply(std::uint64_t id, HRESULT hr, bool with_error,
                             wire::Writer* results) {
  try {
    auto frame = frame_of(kReplyMessage);
    std::memcpy(frame.data() + kCallIdAt, &id, sizeof id);
    wire::Writer w(this);
    w.value(hr);
    BSTR source = nullptr;
    BSTR description = nullptr;
    const bool has_error = with_error && take_error_info(&source, &description);
    w.u8(static_cast<std::uint8_t>((has_error ? kReplyHasError : 0) |
                                   (results != nullptr ? kReplyHasResults : 0)));
    if (has_error) {
      w.text(source ? source : u"", source ? SysStringLen(source) : 0);
      w.text(description ? description : u"", description ? SysStringLen(description) : 0);
    }
    SysFreeString(source);
    SysFreeString(description);
    frame.insert(frame.end(), w.data().begin(), w.data().end());
    if (results != nullptr) {
      auto& more = results->data();
      frame.insert(frame.end(), more.begin(), more.end());
    }
    detail::CallSlots* slots = this->slots();
    if (slots == nullptr || !slots->offer_reply(id, {frame.data() + 4, frame.size() - 4})) {
      (void)send(frame);
    }
    // The same process's next call most likely follows at once: this thread watches for it.
    if (slots != nullptr) t_answered_last = weak_from_this();
  } catch (...) {
    close();  // the caller cannot be answered: it sees the connection end
  }
}

void RemoteConnection::read_loop() {
  try {
    for (;;) {
      std::uint32_t length = 0;
      if (!read_all(fd_, reinterpret_cast<std::uint8_t*>(&length), 4, &received_fd_)) break;
      if (length == 0 || length > kMaxFrame) break;  // cannot be framed: the peer is broken
      std::vector<std::uint8_t> body(length);
      if (!read_all(fd_, body.data(), length, &received_fd_)) break;
      if (body[0] == kSlotsMessage) {
        // Only the accepting side takes slots, once, and only with their memory.
        if (slots() == nullptr && received_fd_ >= 0) {
          slots_owner_ = detail::CallSlots::adopt(std::exchange(received_fd_, -1));
          slots_.store(slots_owner_.get(), std::memory_order_release);
        }
        continue;
      }
      on_message(std::move(body));
    }
  } catch (...) {
    // Out of memory: the connection ends.
  }
  try {
    on_closed();
  } catch (...) {
    // Nothing leaves the reader's thread; what could not be given back goes with the process.
  }
}

void RemoteConnection::on_message(std::vector<std::uint8_t>&& body) {
  const std::uint8_t kind = body[0];
  if (kind == kReplyMessage) return on_reply(std::move(body));
  if (kind == kReleaseMessage) {
    try {
      wire::Reader r(this, body.data() + 1, body.size() - 1);
      const std::uint32_t count = r.u32();
      if (count > r.left()) return;
      std::vector<std::pair<std::uint64_t, std::size_t>> releases;
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t oid = r.u64();
        releases.emplace_back(oid, r.u32());
      }
      release(std::move(releases));
    } catch (const wire::Failure&) {
      // A malformed release gives nothing back; the connection's end will.
    }
    return;
  }
  if (kind != kCallMessage && kind != kQueryMessage && kind != kGetClassMessage) return;
  if (body.size() < kCallHeader - 4) return;  // no call id: nobody to answer
  std::uint64_t id = 0;
  std::memcpy(&id, body.data() + 1, sizeof id);
  const std::size_t args_at = 1 + sizeof id;
  detail::HomeReference target;
  auto self = shared_from_this();
  if (kind == kGetClassMessage) {
    // Answered in the apartment of the class object's registration.
    CLSID clsid{};
    if (body.size() < args_at + sizeof clsid) return reply(id, RPC_X_BAD_STUB_DATA, false, nullptr);
    std::memcpy(&clsid, body.data() + args_at, sizeof clsid);
    std::shared_ptr<detail::Apartment> home;
    {
      Published& p = published();
      std::lock_guard lock(p.mutex);
      for (auto& [cookie, entry] : p.by_cookie) {
        if (entry.clsid == clsid) home = entry.home;
      }
    }
    if (!home) return reply(id, REGDB_E_CLASSNOTREG, false, nullptr);
    DetachedCall::post(home, new IncomingRemoteCall(IncomingRemoteCall::Kind::kGetClass, self, id,
                                                    {}, std::move(body), args_at));
    return;
  }
  std::uint64_t oid = 0;
  if (body.size() < args_at + sizeof oid) return reply(id, RPC_X_BAD_STUB_DATA, false, nullptr);
  std::memcpy(&oid, body.data() + args_at, sizeof oid);
  if (!find_export_view(oid, &target)) return reply(id, RPC_E_DISCONNECTED, false, nullptr);
  auto home = target.home;
  DetachedCall::post(home, new IncomingRemoteCall(kind == kCallMessage
                                                      ? IncomingRemoteCall::Kind::kCall
                                                      : IncomingRemoteCall::Kind::kQuery,
                                                  self, id, std::move(target), std::move(body),
                                                  args_at + sizeof oid));
}

void RemoteConnection::on_reply(std::vector<std::uint8_t>&& body) {
  if (body.size() < kShortestReply) return;
  std::uint64_t id = 0;
  std::memcpy(&id, body.data() + 1, sizeof id);
  Pending pending{};
  {
    std::lock_guard lock(pending_mutex_);
    auto it = pending_.find(id);
    if (it == pending_.end()) return;  // nobody asked: ignored
    pending = it->second;
    pending_.erase(it);
  }
  read_reply(std::move(body), pending.reply);
  if (pending.waiter->finish()) {
    auto guard = sx::kernel::lock();
    sx::kernel::notify_all();
  }
}

void RemoteConnection::read_reply(std::vector<std::uint8_t>&& body, Reply* reply) {
  try {
    wire::Reader r(this, body.data() + 9, body.size() - 9);
    reply->hr = r.value<HRESULT>();
    const std::uint8_t flags = r.u8();
    reply->has_error = (flags & kReplyHasError) != 0;
    reply->has_results = (flags & kReplyHasResults) != 0;
    if (reply->has_error) {
      reply->source = r.text();
      reply->description = r.text();
    }
    reply->results_at = body.size() - r.left();
    reply->body = std::move(body);
    if (reply->has_results) {
      begin_decoding();
      reply->decoding = this;
    }
  } catch (const wire::Failure&) {
    reply->hr = RPC_X_BAD_STUB_DATA;
    reply->has_error = false;
    reply->has_results = false;
  }
}

void RemoteConnection::begin_decoding() {
  std::lock_guard lock(release_mutex_);
  ++decoding_;
}

void RemoteConnection::end_decoding() {
  std::vector<std::pair<std::uint64_t, std::size_t>> releases;
  {
    std::lock_guard lock(release_mutex_);
    if (--decoding_ > 0) return;
    releases.swap(waiting_releases_);
  }
  if (!releases.empty()) release_references(this, releases);
}

void RemoteConnection::release(std::vector<std::pair<std::uint64_t, std::size_t>>&& releases) {
  {
    std::lock_guard lock(release_mutex_);
    // A reply in the reply slot was sent before these releases: they wait until it is read.
    detail::CallSlots* slots = this->slots();
    if (decoding_ > 0 || (slots != nullptr && slots->reply_waiting())) {
      waiting_releases_.insert(waiting_releases_.end(), releases.begin(), releases.end());
      return;
    }
  }
  release_references(this, releases);
}

void RemoteConnection::on_closed() {
  alive_.store(false, std::memory_order_release);
  std::unordered_map<std::uint64_t, Pending> given_up;
  {
    std::lock_guard lock(pending_mutex_);
    given_up.swap(pending_);
  }
  for (auto& [id, pending] : given_up) {
    pending.waiter->dropped = true;
    if (pending.waiter->finish()) {
      auto guard = sx::kernel::lock();
      sx::kernel::notify_all();
    }
  }
  // What the peer held here goes back; its proxies here fail from now on.
  release_all_references(this);
  Endpoint& e = endpoint();
  std::lock_guard lock(e.mutex);
  e.open.erase(shared_from_this());
}

// --- Class objects for the whole machine -------------------------------------------------------

namespace detail {

namespace {

std::filesystem::path class_file(REFCLSID clsid) {
  return com_folder() / "classes" / format_guid(clsid);
}

bool has_local_server_key(REFCLSID clsid) {
  HKEY key = nullptr;
  const std::string path = "CLSID\\" + format_guid(clsid) + "\\LocalServer32";
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

void publish_class_object(REFCLSID clsid, DWORD cookie, IUnknown* factory) {
  try {
    auto home = current_apartment_state();
    if (!home || home->kind != ApartmentKind::kSingleThreaded) return;
    if (!has_local_server_key(clsid)) return;
    std::string socket_path;
    if (FAILED(ensure_listening(&socket_path))) return;
    ensure_window(*home);
    const std::filesystem::path file = class_file(clsid);
    const std::filesystem::path temporary =
        file.string() + ".tmp" + std::to_string(::getpid());
    {
      std::ofstream out(temporary, std::ios::trunc);
      out << ::getpid() << "\n" << socket_path << "\n";
      if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, file, ec);
    if (ec) return;
    Published& p = published();
    std::lock_guard lock(p.mutex);
    p.by_cookie[cookie] = PublishedClass{clsid, ComPtr<IUnknown>(factory), home, file};
  } catch (...) {
    // Then only this process finds it.
  }
}

void unpublish_class_object(DWORD cookie) {
  PublishedClass gone;
  {
    Published& p = published();
    std::lock_guard lock(p.mutex);
    auto it = p.by_cookie.find(cookie);
    if (it == p.by_cookie.end()) return;
    gone = std::move(it->second);
    p.by_cookie.erase(it);
  }
  try {
    std::ifstream in(gone.file);
    long pid = 0;
    if (in >> pid && pid == ::getpid()) {
      std::error_code ec;
      std::filesystem::remove(gone.file, ec);
    }
  } catch (...) {
    // The file stays; readers find it stale once this process is gone.
  }
}

bool machine_class_object(REFCLSID clsid, REFIID iid, void** object, HRESULT* result) {
  std::filesystem::path file;
  long pid = 0;
  std::string socket_path;
  try {
    file = class_file(clsid);
    std::ifstream in(file);
    if (!(in >> pid) || !(in >> socket_path)) return false;
  } catch (...) {
    return false;
  }
  if (pid == ::getpid()) return false;  // ours: served in this process as before
  const auto forget = [&] {
    std::error_code ec;
    std::filesystem::remove(file, ec);
  };
  if (pid <= 0 || sx::stale::process_is_gone(pid)) {
    forget();  // left by a process that is gone
    return false;
  }
  std::shared_ptr<RemoteConnection> connection = connect_to(socket_path);
  if (!connection) {
    forget();  // nobody listens there any more
    return false;
  }
  try {
    auto frame = frame_of(kGetClassMessage);
    wire::Writer w(connection.get());
    w.value(clsid);
    frame.insert(frame.end(), w.data().begin(), w.data().end());
    RemoteConnection::Reply reply;
    if (const HRESULT delivered = connection->call(frame, &reply); FAILED(delivered)) {
      return false;  // it ended meanwhile
    }
    if (reply.hr == REGDB_E_CLASSNOTREG) return false;  // revoked meanwhile
    if (FAILED(reply.hr) || !reply.has_results) {
      *result = FAILED(reply.hr) ? reply.hr : RPC_X_BAD_STUB_DATA;
      return true;
    }
    wire::Reader r(connection.get(), reply.body.data() + reply.results_at,
                   reply.body.size() - reply.results_at);
    ComPtr<IUnknown> factory;
    r.reference(IID_IClassFactory, factory.PutVoid());
    *result = factory ? factory->QueryInterface(iid, object) : E_UNEXPECTED;
    return true;
  } catch (const wire::Failure& failure) {
    *result = failure.hr;
    return true;
  } catch (const std::bad_alloc&) {
    *result = E_OUTOFMEMORY;
    return true;
  }
}

namespace {

// LocalServer32's command line split into the program (a Windows path) and what follows it. An
// unquoted path with spaces is read as Windows reads it: the shortest run of words naming a file.
bool server_command(REFCLSID clsid, std::string* program, std::string* rest) {
  char line[2048];
  LONG size = sizeof line;
  const std::string key = "CLSID\\" + format_guid(clsid) + "\\LocalServer32";
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), line, &size) != ERROR_SUCCESS) return false;
  line[sizeof line - 1] = '\0';
  std::string text(line);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  if (text.empty()) return false;
  if (text.front() == '"') {
    const std::size_t end = text.find('"', 1);
    if (end == std::string::npos) return false;
    *program = text.substr(1, end - 1);
    *rest = text.substr(end + 1);
    return true;
  }
  for (std::size_t space = text.find(' '); space != std::string::npos;
       space = text.find(' ', space + 1)) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(sx::paths::to_host(text.substr(0, space)), ec)) {
      *program = text.substr(0, space);
      *rest = text.substr(space);
      return true;
    }
  }
  *program = text;
  rest->clear();
  return true;
}

}  // namespace

long registered_pid(REFCLSID clsid) {
  try {
    std::ifstream in(class_file(clsid));
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return 0;
    if (sx::stale::process_is_gone(pid)) return 0;
    return pid;
  } catch (...) {
    return 0;
  }
}

namespace {

// One starter of a class's server at a time on the machine: an advisory lock on a file of the
// machine, held by an open file description that no started program inherits.
class StartLock {
 public:
  StartLock(REFCLSID clsid, std::chrono::steady_clock::time_point until) {
    std::error_code ec;
    std::filesystem::create_directories(com_folder() / "classes", ec);
    const std::filesystem::path file = com_folder() / ("start-" + format_guid(clsid) + ".lock");
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
        ::close(std::exchange(fd_, -1));
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~StartLock() {
    if (fd_ >= 0) ::close(fd_);  // closing lets the lock go
  }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

HRESULT start_machine_server(REFCLSID clsid) {
  try {
    std::string program;
    std::string rest;
    if (!server_command(clsid, &program, &rest)) return S_FALSE;
    const std::filesystem::path host = sx::paths::to_host(program);
    std::error_code ec;
    // A stand-in file that is no program (Outlook's OUTLOOK.EXE when Outlook runs in each
    // process) leaves the class to the stand-in of the creating process.
    if (host.empty() || !std::filesystem::is_regular_file(host, ec) ||
        ::access(host.c_str(), X_OK) != 0) {
      return S_FALSE;
    }
    const auto until = std::chrono::steady_clock::now() + kServerStartLimit;
    StartLock lock(clsid, until);
    if (!lock.held()) return CO_E_SERVER_EXEC_FAILURE;
    // Another process may have started it while this one waited for the lock.
    if (const long pid = registered_pid(clsid); pid != 0) {
      return pid == ::getpid() ? S_FALSE : S_OK;
    }
    std::string line = "\"" + program + "\"" + rest + " /embedding";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
      return CO_E_SERVER_EXEC_FAILURE;
    }
    CloseHandle(started.hThread);
    HRESULT outcome = CO_E_SERVER_EXEC_FAILURE;
    for (;;) {
      if (registered_pid(clsid) == static_cast<long>(started.dwProcessId)) {
        outcome = S_OK;
        break;
      }
      if (WaitForSingleObject(started.hProcess, 0) == WAIT_OBJECT_0) break;  // it gave up
      if (std::chrono::steady_clock::now() >= until) {
        TerminateProcess(started.hProcess, 1);  // not left to register later unasked
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CloseHandle(started.hProcess);
    return outcome;
  } catch (...) {
    return CO_E_SERVER_EXEC_FAILURE;
  }
}

}  // namespace detail

}  // namespace sx::com

// --- IClassFactory between processes ------------------------------------------------------------

namespace sx::com::detail {
namespace {

HRESULT create_instance_stub(IUnknown* target, wire::Reader& in, wire::Writer& out) {
  const IID iid = in.value<IID>();
  if (!in.at_end()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
  ComPtr<IUnknown> made;
  HRESULT hr = E_UNEXPECTED;
  try {
    hr = static_cast<IClassFactory*>(target)->CreateInstance(nullptr, iid, made.PutVoid());
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  out.reference(SUCCEEDED(hr) ? made.Get() : nullptr, iid);
  return hr;
}

}  // namespace
}  // namespace sx::com::detail

template <>
struct sx::com::RemoteStubs<IClassFactory> {
  using Interface = IClassFactory;
  static constexpr detail::StubFn kTable[] = {
      &detail::create_instance_stub, &detail::Stub<IClassFactory, &IClassFactory::LockServer>::run,
      nullptr};
};

template <>
class sx::com::RemoteProxy<IClassFactory> final : public sx::com::RemoteProxyOf<IClassFactory> {
 public:
  using RemoteProxyOf::RemoteProxyOf;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    const IID wanted = iid;
    HRESULT result = E_UNEXPECTED;
    try {
      const HRESULT delivered = remote_call(
          detail::kFirstMember, [&](wire::Writer& w) { w.value(wanted); },
          [&](wire::Reader& r) { r.reference(wanted, object); }, &result);
      return FAILED(delivered) ? delivered : result;
    } catch (const wire::Failure& failure) {
      return failure.hr;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    return remote_forward(detail::kFirstMember + 1, &IClassFactory::LockServer, lock);
  }
};

namespace {
[[maybe_unused]] const bool class_factory_remote = sx::com::register_remote_of<IClassFactory>();
}  // namespace

// --- IDispatch's methods from the caller's side --------------------------------------------------

namespace sx::com::detail {

namespace {
// Runs a remote IDispatch call; failures of packing become its result.
template <class Write, class Read>
HRESULT dispatch_call(RemoteInterfaceProxyBase* proxy, std::uint32_t method, Write write,
                      Read read) {
  struct Access : RemoteInterfaceProxyBase {
    using RemoteInterfaceProxyBase::remote_call;
  };
  HRESULT result = E_UNEXPECTED;
  try {
    const HRESULT delivered = (proxy->*(&Access::remote_call))(method, write, read, &result);
    return FAILED(delivered) ? delivered : result;
  } catch (const wire::Failure& failure) {
    return failure.hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
}  // namespace

HRESULT remote_get_type_info_count(RemoteInterfaceProxyBase* proxy, UINT* count) {
  if (count == nullptr) return E_POINTER;
  return dispatch_call(
      proxy, kGetTypeInfoCount, [](wire::Writer&) {},
      [&](wire::Reader& r) { *count = r.u32(); });
}

HRESULT remote_get_type_info(RemoteInterfaceProxyBase* proxy, UINT index, LCID lcid,
                             ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return dispatch_call(
      proxy, kGetTypeInfo,
      [&](wire::Writer& w) {
        w.u32(index);
        w.value(lcid);
      },
      [](wire::Reader&) {});
}

HRESULT remote_get_ids_of_names(RemoteInterfaceProxyBase* proxy, REFIID iid, LPOLESTR* names,
                                UINT count, LCID lcid, DISPID* ids) {
  if ((names == nullptr || ids == nullptr) && count > 0) return E_POINTER;
  const IID interface_id = iid;
  return dispatch_call(
      proxy, kGetIDsOfNames,
      [&](wire::Writer& w) {
        w.value(interface_id);
        w.u32(count);
        for (UINT i = 0; i < count; ++i) w.text(names[i]);
        w.value(lcid);
      },
      [&](wire::Reader& r) {
        for (UINT i = 0; i < count; ++i) ids[i] = r.value<DISPID>();
      });
}

HRESULT remote_invoke(RemoteInterfaceProxyBase* proxy, DISPID member, REFIID iid, LCID lcid,
                      WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                      UINT* arg_error) {
  if (params != nullptr && params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  if (params != nullptr && params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) {
    return E_INVALIDARG;
  }
  const IID interface_id = iid;
  if (result != nullptr) VariantClear(result);
  return dispatch_call(
      proxy, kInvoke,
      [&](wire::Writer& w) {
        w.value(member);
        w.value(interface_id);
        w.value(lcid);
        w.value(flags);
        w.u8(params != nullptr ? 1 : 0);
        if (params != nullptr) {
          w.u32(params->cArgs);
          for (UINT i = 0; i < params->cArgs; ++i) w.variant(params->rgvarg[i]);
          w.u32(params->cNamedArgs);
          for (UINT i = 0; i < params->cNamedArgs; ++i) w.value(params->rgdispidNamedArgs[i]);
        }
        w.u8(result != nullptr ? 1 : 0);
        w.u8(excep_info != nullptr ? 1 : 0);
        w.u8(arg_error != nullptr ? 1 : 0);
      },
      [&](wire::Reader& r) {
        if (result != nullptr) r.variant(result);
        if (excep_info != nullptr) {
          *excep_info = EXCEPINFO{};
          excep_info->wCode = r.value<WORD>();
          excep_info->scode = r.value<SCODE>();
          excep_info->dwHelpContext = r.value<DWORD>();
          excep_info->bstrSource = r.text();
          excep_info->bstrDescription = r.text();
          excep_info->bstrHelpFile = r.text();
        }
        if (arg_error != nullptr) *arg_error = r.u32();
      });
}

}  // namespace sx::com::detail
