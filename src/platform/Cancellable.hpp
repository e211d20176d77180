#pragma once

// How an object keeps its asynchronous work from outliving it. The owner holds one Cancellable,
// hands `get()` to the GIO, libsoup and D-Bus calls it starts (so they stop when it goes), and
// every callback that may run after the owner is gone captures `token()` and returns at once
// when it is cancelled, before it touches the owner:
//
//     m_session.send(request, [this, cancellation = m_cancellable.token()](HttpResult result) {
//         if (cancellation.isCancelled())
//             return;
//         …
//     }, m_cancellable.get());
//
// The owner's destructor cancels it (or it is cancelled as the member goes, which is before the
// main loop can run a callback again). This is the one idiom for "the receiver may be gone";
// GNOME's own browser settled on it after raw pointers in callbacks crashed it.

#include "platform/GRef.hpp"

#include <gio/gio.h>

namespace aurelo {

// What a callback holds: a reference of its own on the owner's GCancellable, valid after the
// owner (and its Cancellable) are gone.
class CancellationToken {
public:
    CancellationToken() = default;
    explicit CancellationToken(GCancellable* cancellable) : m_cancellable(cancellable) {}

    // True once the owner was destroyed or cancelled its work; an empty token is cancelled.
    bool isCancelled() const {
        return !m_cancellable || g_cancellable_is_cancelled(m_cancellable.get());
    }
    GCancellable* get() const { return m_cancellable.get(); }

private:
    GRef<GCancellable> m_cancellable;
};

class Cancellable {
public:
    Cancellable() : m_cancellable(adoptGRef(g_cancellable_new())) {}
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable() { cancel(); }

    GCancellable* get() const { return m_cancellable.get(); }
    CancellationToken token() const { return CancellationToken(m_cancellable.get()); }
    bool isCancelled() const { return g_cancellable_is_cancelled(m_cancellable.get()); }

    void cancel() { g_cancellable_cancel(m_cancellable.get()); }
    // Cancels the work started so far; work started afterwards gets a token of its own.
    void renew() {
        cancel();
        m_cancellable = adoptGRef(g_cancellable_new());
    }

private:
    GRef<GCancellable> m_cancellable;
};

} // namespace aurelo
