#include "platform/LibsecretSecretStore.hpp"

#include "platform/GRef.hpp"

#include <libsecret/secret.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace aurelo {

template <> struct GRefTraits<SecretValue> {
    static SecretValue* ref(SecretValue* p) { return secret_value_ref(p); }
    static void unref(SecretValue* p) { secret_value_unref(p); }
};

namespace {

// Items are matched on these two attributes alone (no "xdg:schema"), so that items written by
// other tools with the same attributes are found and ours are found by them.
const SecretSchema* itemSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s;
        std::memset(&s, 0, sizeof s);
        s.name = "com.aurelo.translator.Secret";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

SecretStoreError lockedError() {
    return {SECRET_ERROR_IS_LOCKED, "密钥环已锁定，请先在系统中解锁登录密钥环。", true};
}

// Runs libsecret's asynchronous calls to completion on a private main context, bounded by one
// deadline for the whole operation. The application's main context is not iterated meanwhile,
// so nothing else of the application runs inside a keychain call.
class BoundedCall {
public:
    explicit BoundedCall(std::chrono::milliseconds timeout)
        : m_context(g_main_context_new()), m_cancellable(adoptGRef(g_cancellable_new())),
          m_timeout(timeout),
          m_deadline(g_get_monotonic_time() +
                     std::chrono::duration_cast<std::chrono::microseconds>(timeout).count()) {
        g_main_context_push_thread_default(m_context);
    }
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;
    ~BoundedCall() {
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }

    GCancellable* cancellable() const { return m_cancellable.get(); }

    // Starts an operation through `start(callback, userData)` and waits for its result. Returns
    // an empty holder only when the operation did not even finish after being cancelled.
    template <typename Start> GRef<GAsyncResult> await(Start start) {
        auto slot = std::make_shared<GRef<GAsyncResult>>();
        start(&completionCallback, new std::shared_ptr<GRef<GAsyncResult>>(slot));
        // A cancelled D-Bus call completes at once; this grace period only guards against a
        // library that never calls back, in which case the small slot is leaked on purpose.
        constexpr gint64 kGrace = G_USEC_PER_SEC;
        while (!*slot) {
            gint64 now = g_get_monotonic_time();
            if (!g_cancellable_is_cancelled(m_cancellable.get()) && now >= m_deadline) {
                m_timedOut = true;
                g_cancellable_cancel(m_cancellable.get());
                m_deadline = now + kGrace;
                continue;
            }
            if (g_cancellable_is_cancelled(m_cancellable.get()) && now >= m_deadline)
                return {};
            iterateUntil(m_deadline);
        }
        return std::move(*slot);
    }

    // Turns a failure into the caller's error, naming a time-out as such.
    SecretStoreError errorFrom(const GError* error) const {
        if (m_timedOut || !error)
            return timeoutError();
        if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED))
            return lockedError();
        return {static_cast<std::int32_t>(error->code), error->message ? error->message : ""};
    }

    SecretStoreError timeoutError() const {
        char seconds[32];
        g_snprintf(seconds, sizeof seconds, "%g", static_cast<double>(m_timeout.count()) / 1000);
        return {G_IO_ERROR_TIMED_OUT,
                std::string("密钥环服务（Secret Service）在 ") + seconds + " 秒内没有响应。"};
    }

private:
    static void completionCallback(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<GRef<GAsyncResult>>> slot(
            static_cast<std::shared_ptr<GRef<GAsyncResult>>*>(data));
        **slot = GRef<GAsyncResult>(result);
    }

    static gboolean wakeCallback(gpointer) { return G_SOURCE_REMOVE; }

    void iterateUntil(gint64 deadline) {
        gint64 remaining = std::max<gint64>(deadline - g_get_monotonic_time(), 0);
        GSource* timer = g_timeout_source_new(static_cast<guint>(remaining / 1000 + 1));
        g_source_set_callback(timer, wakeCallback, nullptr, nullptr);
        g_source_attach(timer, m_context);
        g_main_context_iteration(m_context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
    }

    GMainContext* m_context;
    GRef<GCancellable> m_cancellable;
    std::chrono::milliseconds m_timeout;
    gint64 m_deadline;
    bool m_timedOut = false;
};

class Attributes {
public:
    Attributes(const std::string& service, const std::string& account)
        : m_table(adoptGRef(g_hash_table_new(g_str_hash, g_str_equal))) {
        g_hash_table_insert(m_table.get(), const_cast<char*>("service"),
                            const_cast<char*>(service.c_str()));
        g_hash_table_insert(m_table.get(), const_cast<char*>("account"),
                            const_cast<char*>(account.c_str()));
    }
    GHashTable* get() const { return m_table.get(); }

private:
    GRef<GHashTable> m_table;
};

SecretResult<GRef<SecretService>> connect(BoundedCall& call) {
    GErrorHolder error;
    auto result = call.await([&](GAsyncReadyCallback callback, gpointer data) {
        secret_service_get(SECRET_SERVICE_OPEN_SESSION, call.cancellable(), callback, data);
    });
    SecretService* service =
        result ? secret_service_get_finish(result.get(), error.out()) : nullptr;
    if (!service)
        return std::unexpected(call.errorFrom(error.get()));
    return adoptGRef(service);
}

// The items of the account, found without unlocking anything.
SecretResult<std::vector<GRef<SecretItem>>> search(BoundedCall& call, SecretService* service,
                                                   const Attributes& attributes,
                                                   SecretSearchFlags flags) {
    GErrorHolder error;
    auto result = call.await([&](GAsyncReadyCallback callback, gpointer data) {
        secret_service_search(service, itemSchema(), attributes.get(), flags, call.cancellable(),
                              callback, data);
    });
    GList* list =
        result ? secret_service_search_finish(service, result.get(), error.out()) : nullptr;
    if (!result || error)
        return std::unexpected(call.errorFrom(error.get()));
    std::vector<GRef<SecretItem>> items;
    for (GList* node = list; node; node = node->next)
        items.push_back(adoptGRef(static_cast<SecretItem*>(node->data)));
    g_list_free(list);
    return items;
}

} // namespace

LibsecretSecretStore::LibsecretSecretStore() : LibsecretSecretStore(Options{}) {}

LibsecretSecretStore::LibsecretSecretStore(Options options)
    : m_options(std::move(options)), m_unlocks(adoptGRef(g_cancellable_new())) {}

LibsecretSecretStore::~LibsecretSecretStore() {
    g_cancellable_cancel(m_unlocks.get());
}

namespace {

// One unlock in progress: service, then the default collection, then the unlock with its prompt.
// Owned by whichever callback runs next; a cancelled request ends without calling `done`.
struct UnlockRequest {
    GRef<GCancellable> cancellable;
    std::function<void(bool)> done;
    GRef<SecretService> service;

    static void finish(std::unique_ptr<UnlockRequest> request, bool unlocked) {
        if (!g_cancellable_is_cancelled(request->cancellable.get()))
            request->done(unlocked);
    }

    static void serviceReadyCallback(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<UnlockRequest> request(static_cast<UnlockRequest*>(data));
        GErrorHolder error;
        request->service = adoptGRef(secret_service_get_finish(result, error.out()));
        if (!request->service)
            return finish(std::move(request), false);
        GCancellable* cancellable = request->cancellable.get();
        SecretService* service = request->service.get();
        secret_collection_for_alias(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                    cancellable, collectionReadyCallback, request.release());
    }

    static void collectionReadyCallback(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<UnlockRequest> request(static_cast<UnlockRequest*>(data));
        GErrorHolder error;
        auto collection = adoptGRef(secret_collection_for_alias_finish(result, error.out()));
        if (!collection)
            return finish(std::move(request), false);
        if (!secret_collection_get_locked(collection.get()))
            return finish(std::move(request), true);
        GList* objects = g_list_append(nullptr, collection.get());
        GCancellable* cancellable = request->cancellable.get();
        SecretService* service = request->service.get();
        secret_service_unlock(service, objects, cancellable, unlockedCallback, request.release());
        g_list_free(objects);
    }

    static void unlockedCallback(GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<UnlockRequest> request(static_cast<UnlockRequest*>(data));
        GErrorHolder error;
        GList* unlocked = nullptr;
        const gint count =
            secret_service_unlock_finish(request->service.get(), result, &unlocked, error.out());
        g_list_free_full(unlocked, g_object_unref);
        // A dismissed prompt (the user cancelled) unlocks nothing and is no error.
        finish(std::move(request), !error && count > 0);
    }
};

} // namespace

void LibsecretSecretStore::unlock(std::function<void(bool unlocked)> done) {
    auto* request = new UnlockRequest{m_unlocks, std::move(done), {}};
    secret_service_get(SECRET_SERVICE_NONE, m_unlocks.get(), UnlockRequest::serviceReadyCallback,
                       request);
}

SecretResult<void> LibsecretSecretStore::checkResponsive() const {
    if (g_get_monotonic_time() < m_unresponsiveUntil)
        return std::unexpected(SecretStoreError{
            G_IO_ERROR_TIMED_OUT, "密钥环服务（Secret Service）没有响应，请稍后再试。"});
    return {};
}

template <typename T> SecretResult<T> LibsecretSecretStore::noteOutcome(SecretResult<T> outcome) {
    if (!outcome && outcome.error().status == G_IO_ERROR_TIMED_OUT)
        m_unresponsiveUntil =
            g_get_monotonic_time() +
            std::chrono::duration_cast<std::chrono::microseconds>(kUnresponsivePause).count();
    return outcome;
}

SecretResult<std::optional<std::string>> LibsecretSecretStore::lookup(const std::string& account) {
    if (auto responsive = checkResponsive(); !responsive)
        return std::unexpected(responsive.error());
    return noteOutcome(lookupItem(account));
}

SecretResult<void> LibsecretSecretStore::remove(const std::string& account) {
    if (auto responsive = checkResponsive(); !responsive)
        return std::unexpected(responsive.error());
    return noteOutcome(removeItems(account));
}

SecretResult<void> LibsecretSecretStore::add(const std::string& account, const std::string& value) {
    if (auto responsive = checkResponsive(); !responsive)
        return std::unexpected(responsive.error());
    return noteOutcome(addItem(account, value));
}

SecretResult<std::optional<std::string>>
LibsecretSecretStore::lookupItem(const std::string& account) {
    BoundedCall call(m_options.timeout);
    auto service = connect(call);
    if (!service)
        return std::unexpected(service.error());
    Attributes attributes(m_options.service, account);
    auto items = search(call, service->get(), attributes, SECRET_SEARCH_LOAD_SECRETS);
    if (!items)
        return std::unexpected(items.error());
    if (items->empty())
        return std::optional<std::string>();

    SecretItem* item = items->front().get();
    if (secret_item_get_locked(item))
        return std::unexpected(lockedError());
    auto value = adoptGRef(secret_item_get_secret(item));
    if (!value) {
        GErrorHolder error;
        auto result = call.await([&](GAsyncReadyCallback callback, gpointer data) {
            secret_item_load_secret(item, call.cancellable(), callback, data);
        });
        if (!result || !secret_item_load_secret_finish(item, result.get(), error.out()))
            return std::unexpected(call.errorFrom(error.get()));
        value = adoptGRef(secret_item_get_secret(item));
    }
    if (!value)
        return std::unexpected(SecretStoreError{0, "密钥环条目没有内容。"});
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return std::optional<std::string>(std::string(bytes ? bytes : "", bytes ? length : 0));
}

SecretResult<void> LibsecretSecretStore::removeItems(const std::string& account) {
    BoundedCall call(m_options.timeout);
    auto service = connect(call);
    if (!service)
        return std::unexpected(service.error());
    Attributes attributes(m_options.service, account);

    // libsecret only deletes unlocked items; a locked one would survive the delete and come
    // back on the next load, so that case is a failure rather than a silent success.
    auto items = search(call, service->get(), attributes, SECRET_SEARCH_ALL);
    if (!items)
        return std::unexpected(items.error());
    for (const auto& item : *items)
        if (secret_item_get_locked(item.get()))
            return std::unexpected(lockedError());
    if (items->empty())
        return {};

    GErrorHolder error;
    auto result = call.await([&](GAsyncReadyCallback callback, gpointer data) {
        secret_service_clear(service->get(), itemSchema(), attributes.get(), call.cancellable(),
                             callback, data);
    });
    if (!result)
        return std::unexpected(call.timeoutError());
    secret_service_clear_finish(service->get(), result.get(), error.out());
    if (error)
        return std::unexpected(call.errorFrom(error.get()));
    return {};
}

SecretResult<void> LibsecretSecretStore::addItem(const std::string& account,
                                                 const std::string& value) {
    BoundedCall call(m_options.timeout);
    auto service = connect(call);
    if (!service)
        return std::unexpected(service.error());

    // Storing into a locked collection would open an unlock prompt and wait for the user;
    // report it instead.
    {
        GErrorHolder error;
        auto result = call.await([&](GAsyncReadyCallback callback, gpointer data) {
            secret_collection_for_alias(service->get(), SECRET_COLLECTION_DEFAULT,
                                        SECRET_COLLECTION_NONE, call.cancellable(), callback, data);
        });
        if (!result)
            return std::unexpected(call.timeoutError());
        auto collection = adoptGRef(secret_collection_for_alias_finish(result.get(), error.out()));
        if (error)
            return std::unexpected(call.errorFrom(error.get()));
        if (!collection)
            return std::unexpected(
                SecretStoreError{SECRET_ERROR_NO_SUCH_OBJECT, "没有可用的默认密钥环。"});
        if (secret_collection_get_locked(collection.get()))
            return std::unexpected(lockedError());
    }

    Attributes attributes(m_options.service, account);
    auto secret =
        adoptGRef(secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
    const std::string label = "Aurelo翻译器：" + account;
    GErrorHolder error;
    auto result = call.await([&](GAsyncReadyCallback callback, gpointer data) {
        secret_service_store(service->get(), itemSchema(), attributes.get(),
                             SECRET_COLLECTION_DEFAULT, label.c_str(), secret.get(),
                             call.cancellable(), callback, data);
    });
    if (!result)
        return std::unexpected(call.timeoutError());
    if (!secret_service_store_finish(service->get(), result.get(), error.out()))
        return std::unexpected(call.errorFrom(error.get()));
    return {};
}

} // namespace aurelo
