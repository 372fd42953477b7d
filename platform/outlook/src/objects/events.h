// Event sinks of one source and the connection point through which they are advised, for every
// event interface of the object model but ItemsEvents (whose sinks are per folder, in the session).
// Used on Outlook's thread only. A source that raises events holds a Sinks<Events>; its
// IConnectionPointContainer hands out an EventPoint<Events> for it.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "comdef.h"
#include "outlook/connection_points.h"

namespace sx::outlook {

template <class Events>
class Sinks {
 public:
  DWORD advise(Events* sink) {
    const DWORD cookie = next_++;
    sinks_.emplace_back(cookie, sx::com::ComPtr<Events>(sink));
    return cookie;
  }
  bool unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->first == cookie) {
        sinks_.erase(it);
        return true;
      }
    }
    return false;
  }
  // Calls `raise` for each sink on a copy of the list, so that a sink may advise and unadvise
  // while it is called. Failures of sinks are ignored.
  template <class Call>
  void raise(Call&& call) const {
    std::vector<sx::com::ComPtr<Events>> now;
    now.reserve(sinks_.size());
    for (const auto& [cookie, sink] : sinks_) now.push_back(sink);
    for (auto& sink : now) {
      try {
        (void)call(sink.Get());
      } catch (...) {
        // a sink's failure is its own
      }
    }
  }
  bool empty() const { return sinks_.empty(); }
  // Lets go of every sink (a client's sink is released in its apartment).
  void clear() {
    auto gone = std::move(sinks_);
    sinks_.clear();
  }

 private:
  std::vector<std::pair<DWORD, sx::com::ComPtr<Events>>> sinks_;
  DWORD next_ = 1;
};

// The connection point of `Events` on one source. `sinks` finds the source's list (null when the
// source is gone: Advise then fails with CONNECT_E_CANNOTCONNECT).
template <class Events>
class EventPoint : public sx::com::ComObject<IConnectionPoint> {
 public:
  using Finder = std::function<Sinks<Events>*()>;
  EventPoint(Finder sinks, IConnectionPointContainer* container)
      : sinks_(std::move(sinks)), container_(container) {}
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    SX_COM_CHECK_THREAD();
    if (iid == nullptr) return E_POINTER;
    *iid = Events::kIid;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** c) override {
    SX_COM_CHECK_THREAD();
    if (c == nullptr) return E_POINTER;
    return container_.CopyTo(c);
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    SX_COM_CHECK_THREAD();
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    sx::com::ComPtr<Events> events;
    if (FAILED(sink->QueryInterface(IID_PPV_ARGS(events.ReleaseAndGetAddressOf()))))
      return CONNECT_E_CANNOTCONNECT;
    try {
      Sinks<Events>* list = sinks_();
      if (list == nullptr) return CONNECT_E_CANNOTCONNECT;
      *cookie = list->advise(events.Get());
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    SX_COM_CHECK_THREAD();
    Sinks<Events>* list = sinks_();
    return list != nullptr && list->unadvise(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
  }
  STDMETHODIMP EnumConnections(void** e) override {
    if (e) *e = nullptr;
    return E_NOTIMPL;
  }

 private:
  Finder sinks_;
  sx::com::ComPtr<IConnectionPointContainer> container_;
};

// FindConnectionPoint for a source of one event interface.
template <class Events>
HRESULT find_event_point(REFIID iid, typename EventPoint<Events>::Finder sinks,
                         IConnectionPointContainer* container, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (iid != Events::kIid) return CONNECT_E_NOCONNECTION;
  try {
    *point = sx::com::make_object<EventPoint<Events>>(std::move(sinks), container).Detach();
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sx::outlook
