#pragma once

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace orvik {

#if defined(__SANITIZE_THREAD__)

// Work given to a QThreadPool is built on the calling thread and moved out
// and run on a pool thread; the locks between the two lie inside libQt6Core,
// which ThreadSanitizer cannot see into. This wrapper tells it about the
// hand-over, so that reading the captures on the pool thread is not taken
// for a race with writing them on the caller's.
template <typename Fn> class HandedOver {
public:
    explicit HandedOver(Fn fn) : m_fn(std::move(fn)) { __tsan_release(this); }
    HandedOver(const HandedOver& other) : m_fn(acquired(other).m_fn) { __tsan_release(this); }
    HandedOver(HandedOver&& other) : m_fn(std::move(acquired(other).m_fn)) { __tsan_release(this); }
    HandedOver& operator=(const HandedOver&) = delete;
    HandedOver& operator=(HandedOver&&) = delete;
    ~HandedOver() { __tsan_acquire(this); }

    decltype(auto) operator()() {
        __tsan_acquire(this);
        return m_fn();
    }

private:
    template <typename Self> static Self& acquired(Self& self) {
        __tsan_acquire(const_cast<HandedOver*>(&self));
        return self;
    }

    Fn m_fn;
};

template <typename Fn> HandedOver<Fn> handedOver(Fn fn) {
    return HandedOver<Fn>(std::move(fn));
}

#else

template <typename Fn> Fn handedOver(Fn fn) {
    return fn;
}

#endif

} // namespace orvik
