#pragma once

// A small owning reference for GLib-based C objects (libsoup, libsecret, WebKit, GIO), in the
// manner of WebKit's GRefPtr: `adoptGRef` takes over a reference the caller already owns
// (transfer full), `GRef(ptr)` adds one of its own (transfer none). The reference is released
// when the holder goes away, so business code never calls g_object_unref itself.

#include <gio/gio.h>
#include <glib-object.h>

#include <memory>
#include <string>
#include <utility>

namespace aurelo {

template <typename T> struct GRefTraits {
    static T* ref(T* p) { return static_cast<T*>(g_object_ref(p)); }
    static void unref(T* p) { g_object_unref(p); }
};

template <> struct GRefTraits<GBytes> {
    static GBytes* ref(GBytes* p) { return g_bytes_ref(p); }
    static void unref(GBytes* p) { g_bytes_unref(p); }
};

template <> struct GRefTraits<GMainLoop> {
    static GMainLoop* ref(GMainLoop* p) { return g_main_loop_ref(p); }
    static void unref(GMainLoop* p) { g_main_loop_unref(p); }
};

template <> struct GRefTraits<GVariant> {
    static GVariant* ref(GVariant* p) { return g_variant_ref_sink(p); }
    static void unref(GVariant* p) { g_variant_unref(p); }
};

template <> struct GRefTraits<GHashTable> {
    static GHashTable* ref(GHashTable* p) { return g_hash_table_ref(p); }
    static void unref(GHashTable* p) { g_hash_table_unref(p); }
};

template <typename T> class GRef {
public:
    GRef() = default;
    // Takes a new reference (transfer none).
    explicit GRef(T* ptr) : m_ptr(ptr ? GRefTraits<T>::ref(ptr) : nullptr) {}
    GRef(const GRef& other) : GRef(other.m_ptr) {}
    GRef(GRef&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    GRef& operator=(GRef other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }
    ~GRef() { reset(); }

    // Takes over a reference the caller owns (transfer full).
    static GRef adopt(T* ptr) {
        GRef result;
        result.m_ptr = ptr;
        return result;
    }

    void reset() {
        if (auto* p = std::exchange(m_ptr, nullptr))
            GRefTraits<T>::unref(p);
    }
    // Hands the reference to a C API that takes ownership (transfer full).
    [[nodiscard]] T* release() { return std::exchange(m_ptr, nullptr); }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }
    friend bool operator==(const GRef& a, const GRef& b) { return a.m_ptr == b.m_ptr; }

private:
    T* m_ptr = nullptr;
};

template <typename T> GRef<T> adoptGRef(T* ptr) {
    return GRef<T>::adopt(ptr);
}

// Owns a GError and frees it; `out()` is the GError** to hand to a C call.
class GErrorHolder {
public:
    GErrorHolder() = default;
    GErrorHolder(const GErrorHolder&) = delete;
    GErrorHolder& operator=(const GErrorHolder&) = delete;
    ~GErrorHolder() { g_clear_error(&m_error); }

    GError** out() {
        g_clear_error(&m_error);
        return &m_error;
    }
    GError* get() const { return m_error; }
    GError* operator->() const { return m_error; }
    explicit operator bool() const { return m_error != nullptr; }

private:
    GError* m_error = nullptr;
};

// Owns memory that a GLib call hands over to be released with g_free (transfer full): strings
// from g_filename_to_uri, g_compute_checksum_for_string, jsc_value_to_json, bytes from
// g_base64_decode.
struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
template <typename T> using GFreePtr = std::unique_ptr<T, GFreeDeleter>;
using GCharPtr = GFreePtr<gchar>;

// Copies a string handed over with transfer full and frees it; null becomes "". For the common
// case of a C call whose result is wanted only as a std::string.
inline std::string adoptString(gchar* text) {
    const GCharPtr owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

} // namespace aurelo
