#include "update/PackageDownloader.hpp"

#include "platform/MainLoop.hpp"

#include <fcntl.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace aurelo {

namespace {

constexpr gsize kChunkSize = 256 * 1024;

struct DownloadJob {
    DownloadRequest request;
    DownloadProgress progress;
    DownloadCompletion completion;
    GRef<SoupMessage> message;
    // The caller's cancellable, and one of this download's own that follows it: a failed
    // download cancels its own request, never the caller's other work.
    GRef<GCancellable> cancellable;
    GRef<GCancellable> ownCancellable = adoptGRef(g_cancellable_new());
    gulong cancelledHandler = 0;
    GRef<GInputStream> body;
    std::filesystem::path file;
    int fd = -1;
    std::uint64_t received = 0;
    std::optional<std::uint64_t> total;

    ~DownloadJob() {
        if (cancelledHandler)
            g_cancellable_disconnect(cancellable.get(), cancelledHandler);
        if (fd >= 0)
            close(fd);
    }

    void fail(UpdateFailure failure) {
        // Closing libsoup's body stream with the answer unread would read the rest of it,
        // blocking; cancelled, it stops at once.
        if (body)
            g_cancellable_cancel(ownCancellable.get());
        body.reset();
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
        if (!file.empty())
            unlink(file.c_str());
        completion(std::unexpected(std::move(failure)));
    }
};

void readNext(std::unique_ptr<DownloadJob> job);

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void readFinishedCallback(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(data));
    GErrorHolder error;
    auto bytes =
        adoptGRef(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, error.out()));
    if (!bytes)
        return job->fail(TransportError::fromGError(error.get()));
    gsize size = 0;
    const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    if (size == 0) {
        // A body shorter than its announced length is a cut connection, not a package.
        if (job->total && job->received != *job->total)
            return job->fail(TransportError::make(TransportError::Kind::ConnectionLost));
        if (fsync(job->fd) != 0 || close(std::exchange(job->fd, -1)) != 0)
            return job->fail(SystemError::fromErrno("无法写入更新包", errno));
        auto completion = std::move(job->completion);
        auto file = job->file;
        job.reset();
        return completion(file);
    }
    job->received += size;
    if (job->received > job->request.maximumSize)
        return job->fail(TransportError::make(TransportError::Kind::ResponseTooLarge));
    // A chunk is a quarter of a megabyte into the page cache: quick enough for the main loop.
    if (!writeAll(job->fd, chunk, size))
        return job->fail(SystemError::fromErrno("无法写入更新包", errno));
    if (job->progress)
        job->progress(job->received, job->total);
    readNext(std::move(job));
}

void readNext(std::unique_ptr<DownloadJob> job) {
    GInputStream* body = job->body.get();
    GCancellable* cancellable = job->ownCancellable.get();
    g_input_stream_read_bytes_async(body, kChunkSize, G_PRIORITY_DEFAULT, cancellable,
                                    readFinishedCallback, job.release());
}

void sendFinishedCallback(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(data));
    GErrorHolder error;
    auto body = adoptGRef(soup_session_send_finish(SOUP_SESSION(source), result, error.out()));
    if (!body)
        return job->fail(TransportError::fromGError(error.get()));
    job->body = std::move(body);
    if (soup_message_get_status(job->message.get()) != SOUP_STATUS_OK)
        return job->fail(UpdateError::downloadFailed());
    SoupMessageHeaders* headers = soup_message_get_response_headers(job->message.get());
    // With a content coding the announced length counts compressed bytes while the body we
    // read is decoded, so the length says nothing about what arrives.
    const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
    bool decoded = coding && g_ascii_strcasecmp(coding, "identity") != 0;
    if (!decoded && soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH) {
        auto length = static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers));
        if (length > job->request.maximumSize)
            return job->fail(TransportError::make(TransportError::Kind::ResponseTooLarge));
        job->total = length;
    }
    std::string pattern = (job->request.directory / "aurelo-update-XXXXXX.zip").string();
    job->fd = g_mkstemp_full(pattern.data(), O_RDWR | O_CLOEXEC, 0600);
    if (job->fd < 0)
        return job->fail(SystemError::fromErrno("无法创建临时文件", errno));
    job->file = pattern;
    if (job->progress)
        job->progress(0, job->total);
    readNext(std::move(job));
}

} // namespace

void downloadPackage(HttpSession& session, DownloadRequest request, DownloadProgress progress,
                     DownloadCompletion completion, GCancellable* cancellable) {
    auto job = std::make_unique<DownloadJob>();
    job->message = adoptGRef(soup_message_new("GET", request.url.c_str()));
    job->request = std::move(request);
    job->progress = std::move(progress);
    job->completion = std::move(completion);
    job->cancellable =
        cancellable ? GRef<GCancellable>(cancellable) : adoptGRef(g_cancellable_new());
    if (!job->message) {
        auto completionLater = std::move(job->completion);
        return postToMainLoop([completionLater] {
            completionLater(std::unexpected(TransportError::make(TransportError::Kind::BadURL)));
        });
    }
    // The package must come from the address that passed the checks, not from wherever a
    // redirect would lead: a redirect is an answer other than 200.
    soup_message_add_flags(job->message.get(), SOUP_MESSAGE_NO_REDIRECT);
    job->cancelledHandler =
        g_cancellable_connect(job->cancellable.get(), G_CALLBACK(+[](GCancellable*, gpointer own) {
                                  g_cancellable_cancel(static_cast<GCancellable*>(own));
                              }),
                              job->ownCancellable.get(), nullptr);
    SoupMessage* message = job->message.get();
    GCancellable* ownCancellable = job->ownCancellable.get();
    soup_session_send_async(session.soupSession(), message, G_PRIORITY_DEFAULT, ownCancellable,
                            sendFinishedCallback, job.release());
}

} // namespace aurelo
