// What the add-ins need to hear Outlook's events: a sink that lives inside the object that handles
// the events, and the connection of a sink to an event source, undone when it goes.
//
// Apartment: the thread of the object that handles the events (Outlook's thread for an add-in).
// Header only: the add-ins include Outlook's connection points.
#pragma once

#include <utility>

#include "comdef.h"
#include "outlook/connection_points.h"

namespace sx::common {

// An event sink embedded in `Owner`: its references are the owner's, so a sink that a source still
// calls keeps its owner alive; the owner breaks the cycle by disconnecting (EventConnection::reset)
// when it lets go of the source. IDispatch's members answer nothing: Outlook calls sinks through
// the typed event interface.
template <class Events, class Owner>
class EventSink : public Events {
 public:
  explicit EventSink(Owner& owner) : owner_(owner) {}
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != Events::kIid) return E_NOINTERFACE;
    *object = static_cast<Events*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 protected:
  Owner& owner() { return owner_; }

 private:
  Owner& owner_;
};

// A sink advised on a source's connection point for `iid`; Unadvise when reset or destroyed. A
// source that offers no such events leaves it unconnected (false).
class EventConnection {
 public:
  EventConnection() = default;
  EventConnection(IUnknown* source, REFIID iid, IUnknown* sink) {
    sx::com::ComPtr<IConnectionPointContainer> container;
    if (source == nullptr || sink == nullptr ||
        FAILED(source->QueryInterface(IConnectionPointContainer::kIid, container.PutVoid())) ||
        !container || FAILED(container->FindConnectionPoint(iid, point_.GetAddressOf())) ||
        !point_ || FAILED(point_->Advise(sink, &cookie_))) {
      point_ = nullptr;
    }
  }
  ~EventConnection() { reset(); }
  EventConnection(const EventConnection&) = delete;
  EventConnection& operator=(const EventConnection&) = delete;
  EventConnection& operator=(EventConnection&& other) noexcept {
    if (this != &other) {
      reset();
      point_ = std::move(other.point_);
      cookie_ = other.cookie_;
      other.point_ = nullptr;
    }
    return *this;
  }
  // Disconnects (failures ignored: the source may be gone).
  void reset() {
    sx::com::ComPtr<IConnectionPoint> point = std::move(point_);
    point_ = nullptr;
    if (point) point->Unadvise(cookie_);
  }
  explicit operator bool() const { return static_cast<bool>(point_); }

 private:
  sx::com::ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

}  // namespace sx::common
