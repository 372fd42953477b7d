// A reference to work that runs on another apartment's thread while its caller waits. It owns
// nothing and allocates nothing: the callable stays where it lies, on the caller's stack, which
// the caller keeps until the work has run.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace sx::com::detail {

template <class Signature>
class FunctionRef;

template <class R, class... A>
class FunctionRef<R(A...)> {
 public:
  // Converts from any callable, as std::function does.
  template <class F,
            class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
                                     std::is_invocable_r_v<R, F&, A...>>>
  FunctionRef(F&& f) noexcept  // NOLINT(google-explicit-constructor)
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, A... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<A>(args)...);
        }) {}

  R operator()(A... args) const { return call_(object_, std::forward<A>(args)...); }

 private:
  void* object_;
  R (*call_)(void*, A...);
};

// Work to run in an apartment.
using WorkRef = FunctionRef<void()>;

}  // namespace sx::com::detail
