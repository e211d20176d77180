#include "captions/PulseAudioCaptureStream.hpp"

#include "platform/BuildConfig.hpp"
#include "platform/MainLoop.hpp"

#include <pulse/pulseaudio.h>

#include <map>
#include <vector>

namespace aurelo {

namespace {

constexpr const char* kApplicationName = "Aurelo翻译器";
constexpr const char* kRecordStreamName = "实时字幕";

// The recogniser's own format: the server resamples and down-mixes for us, with its better
// filters, so captured audio normally needs no conversion on our side.
constexpr pa_sample_spec kCaptureSpec{PA_SAMPLE_S16NE, 16000, 1};
// Fragments of a tenth of a second keep captions close behind the speech without waking the
// capture thread more than ten times a second per stream.
constexpr pa_usec_t kFragmentDuration = 100 * PA_USEC_PER_MSEC;

// Events cross to the main loop through this relay. It is only ever touched on the main thread:
// by the posted events and by stopCapture(), which switches it off, so nothing is reported
// after a stop.
struct EventRelay {
    bool active = true;
    ApplicationAudioCaptureStream::EventHandler handler;
};

AudioSampleFormat sampleFormatOf(pa_sample_format_t format) {
    switch (format) {
    case PA_SAMPLE_U8:
        return AudioSampleFormat::U8;
    case PA_SAMPLE_S16LE:
        return AudioSampleFormat::S16LE;
    case PA_SAMPLE_S16BE:
        return AudioSampleFormat::S16BE;
    case PA_SAMPLE_S32LE:
        return AudioSampleFormat::S32LE;
    case PA_SAMPLE_S32BE:
        return AudioSampleFormat::S32BE;
    case PA_SAMPLE_FLOAT32LE:
        return AudioSampleFormat::Float32LE;
    case PA_SAMPLE_FLOAT32BE:
        return AudioSampleFormat::Float32BE;
    default:
        return AudioSampleFormat::Unknown;
    }
}

std::optional<std::string> property(const pa_proplist* properties, const char* key) {
    if (!properties)
        return std::nullopt;
    const char* value = pa_proplist_gets(properties, key);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void releaseOperation(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

} // namespace

// Everything below runs on libpulse's thread with its lock held, except where a function says
// otherwise.
struct PulseAudioCaptureStream::Connection {
    OwnPlaybackStreamRule rule;
    std::shared_ptr<ApplicationAudioOutput> output;
    std::shared_ptr<EventRelay> relay;
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    bool wasReady = false;
    bool reportedEnd = false;
    // Playback stream index → the record stream that monitors it.
    std::map<std::uint32_t, pa_stream*> monitors;
    // Sink index → playback streams waiting for that sink's monitor source name.
    std::map<std::uint32_t, std::vector<std::uint32_t>> waitingForSink;
    // Record streams that have ended; released outside their own callbacks.
    std::vector<pa_stream*> ended;

    Connection(OwnPlaybackStreamRule rule, std::shared_ptr<ApplicationAudioOutput> output,
               std::shared_ptr<EventRelay> relay)
        : rule(std::move(rule)), output(std::move(output)), relay(std::move(relay)) {}

    void post(AudioCaptureEvent event) {
        postToMainLoop([relay = relay, event] {
            if (relay->active && relay->handler)
                relay->handler(event);
        });
    }

    std::size_t readyStreamCount() const {
        std::size_t count = 0;
        for (const auto& [index, stream] : monitors)
            count += pa_stream_get_state(stream) == PA_STREAM_READY ? 1 : 0;
        return count;
    }

    void releaseEnded() {
        for (auto* stream : ended)
            pa_stream_unref(stream);
        ended.clear();
    }

    void considerPlaybackStream(const pa_sink_input_info& info) {
        if (monitors.contains(info.index))
            return;
        OwnPlaybackStreamRule::StreamProperties properties{
            property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID),
            property(info.proplist, OwnPlaybackStreamRule::kOwnerProperty),
            property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY)};
        if (!rule.isOwn(properties))
            return;
        // One query per playback stream, even for a sink already asked about: a query whose
        // sink vanished meanwhile fails without saying which sink it was for.
        waitingForSink[info.sink].push_back(info.index);
        releaseOperation(
            pa_context_get_sink_info_by_index(context, info.sink, sinkInfoCallback, this));
    }

    void monitorPlaybackStream(std::uint32_t playbackIndex, const char* monitorSource) {
        if (monitors.contains(playbackIndex) || !monitorSource)
            return;
        pa_stream* stream = pa_stream_new(context, kRecordStreamName, &kCaptureSpec, nullptr);
        if (!stream)
            return;
        if (pa_stream_set_monitor_stream(stream, playbackIndex) < 0) {
            pa_stream_unref(stream);
            return;
        }
        pa_stream_set_state_callback(stream, streamStateCallback, this);
        pa_stream_set_read_callback(stream, streamReadCallback, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(-1);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize =
            static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentDuration, &kCaptureSpec));
        // DONT_MOVE: when the playback stream moves to another sink the server ends this record
        // stream; the playback stream's change event then attaches a new one on the new sink.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream, monitorSource, &attributes, flags) < 0) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
            return;
        }
        monitors[playbackIndex] = stream;
    }

    void forgetStream(pa_stream* stream) {
        std::erase_if(monitors, [stream](const auto& entry) { return entry.second == stream; });
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        ended.push_back(stream);
    }

    void read(pa_stream* stream) {
        const pa_sample_spec* spec = pa_stream_get_sample_spec(stream);
        std::optional<AudioStreamDescription> description;
        if (spec && pa_sample_spec_valid(spec))
            description =
                AudioStreamDescription{sampleFormatOf(spec->format), spec->rate, spec->channels};
        for (;;) {
            const void* data = nullptr;
            std::size_t size = 0;
            if (pa_stream_peek(stream, &data, &size) < 0 || size == 0)
                return;
            // A hole (no data, a size) reaches the adapter as a buffer whose data is not ready.
            CapturedSampleBuffer buffer{true, description, data, size};
            try {
                output->stream(buffer, CaptureOutputType::Audio);
            } catch (...) {
                // Out of memory for one buffer: that buffer is lost, the capture goes on.
            }
            pa_stream_drop(stream);
        }
    }

    void contextStateChanged() {
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            wasReady = true;
            pa_context_set_subscribe_callback(context, subscribeCallback, this);
            releaseOperation(
                pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
            releaseOperation(
                pa_context_get_sink_input_info_list(context, sinkInputInfoCallback, this));
            post({AudioCaptureEvent::Kind::Connected, 0});
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            if (!reportedEnd) {
                reportedEnd = true;
                post({wasReady ? AudioCaptureEvent::Kind::ConnectionLost
                               : AudioCaptureEvent::Kind::ServerUnavailable,
                      0});
            }
            break;
        default:
            break;
        }
    }

    static void contextStateCallback(pa_context*, void* self) {
        static_cast<Connection*>(self)->contextStateChanged();
    }

    static void sinkInputInfoCallback(pa_context*, const pa_sink_input_info* info, int eol,
                                      void* self) {
        if (eol == 0 && info)
            static_cast<Connection*>(self)->considerPlaybackStream(*info);
    }

    static void sinkInfoCallback(pa_context*, const pa_sink_info* info, int eol, void* self) {
        auto* connection = static_cast<Connection*>(self);
        if (eol != 0 || !info)
            return;
        auto waiting = connection->waitingForSink.extract(info->index);
        if (waiting.empty())
            return;
        for (auto playbackIndex : waiting.mapped())
            connection->monitorPlaybackStream(playbackIndex, info->monitor_source_name);
    }

    static void subscribeCallback(pa_context* context, pa_subscription_event_type_t type,
                                  std::uint32_t index, void* self) {
        auto* connection = static_cast<Connection*>(self);
        connection->releaseEnded();
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
            return;
        switch (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) {
        case PA_SUBSCRIPTION_EVENT_NEW:
        case PA_SUBSCRIPTION_EVENT_CHANGE:
            releaseOperation(
                pa_context_get_sink_input_info(context, index, sinkInputInfoCallback, self));
            break;
        case PA_SUBSCRIPTION_EVENT_REMOVE:
            if (auto found = connection->monitors.find(index);
                found != connection->monitors.end()) {
                pa_stream* stream = found->second;
                pa_stream_disconnect(stream);
                connection->forgetStream(stream);
                connection->post(
                    {AudioCaptureEvent::Kind::StreamCountChanged, connection->readyStreamCount()});
            }
            break;
        default:
            break;
        }
    }

    static void streamStateCallback(pa_stream* stream, void* self) {
        auto* connection = static_cast<Connection*>(self);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            connection->post(
                {AudioCaptureEvent::Kind::StreamCountChanged, connection->readyStreamCount()});
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            connection->forgetStream(stream);
            connection->post(
                {AudioCaptureEvent::Kind::StreamCountChanged, connection->readyStreamCount()});
            break;
        default:
            break;
        }
    }

    static void streamReadCallback(pa_stream* stream, std::size_t, void* self) {
        static_cast<Connection*>(self)->read(stream);
    }
};

PulseAudioCaptureStream::PulseAudioCaptureStream(OwnPlaybackStreamRule rule)
    : m_rule(std::move(rule)) {}

PulseAudioCaptureStream::~PulseAudioCaptureStream() {
    tearDown();
}

void PulseAudioCaptureStream::startCapture(std::shared_ptr<ApplicationAudioOutput> output,
                                           EventHandler handler) {
    tearDown();
    auto relay = std::make_shared<EventRelay>();
    relay->handler = std::move(handler);
    m_connection = std::make_unique<Connection>(m_rule, std::move(output), relay);
    auto& connection = *m_connection;

    auto unavailable = [&connection] {
        connection.reportedEnd = true;
        connection.post({AudioCaptureEvent::Kind::ServerUnavailable, 0});
    };
    if (!connection.output) {
        unavailable();
        return;
    }

    connection.mainloop = pa_threaded_mainloop_new();
    if (!connection.mainloop) {
        unavailable();
        return;
    }
    pa_threaded_mainloop_set_name(connection.mainloop, "aurelo-captions");

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kApplicationName);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, build::kApplicationId);
    connection.context = pa_context_new_with_proplist(
        pa_threaded_mainloop_get_api(connection.mainloop), kApplicationName, properties);
    pa_proplist_free(properties);
    if (!connection.context) {
        unavailable();
        return;
    }
    pa_context_set_state_callback(connection.context, Connection::contextStateCallback,
                                  &connection);
    // No autospawn: starting a sound server behind the user's back is not ours to do, and
    // without one there is nothing of ours to hear anyway.
    if (pa_context_connect(connection.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        pa_context_set_state_callback(connection.context, nullptr, nullptr);
        unavailable();
        return;
    }
    if (pa_threaded_mainloop_start(connection.mainloop) < 0) {
        pa_context_set_state_callback(connection.context, nullptr, nullptr);
        unavailable();
    }
}

void PulseAudioCaptureStream::stopCapture(StopCompletion completion) {
    tearDown();
    if (completion)
        postToMainLoop([completion = std::move(completion)] { completion(std::nullopt); });
}

void PulseAudioCaptureStream::tearDown() {
    if (!m_connection)
        return;
    auto connection = std::move(m_connection);
    connection->relay->active = false;
    if (connection->mainloop)
        pa_threaded_mainloop_lock(connection->mainloop);
    for (auto& [index, stream] : connection->monitors) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    connection->monitors.clear();
    connection->releaseEnded();
    if (connection->context) {
        pa_context_set_state_callback(connection->context, nullptr, nullptr);
        pa_context_set_subscribe_callback(connection->context, nullptr, nullptr);
        pa_context_disconnect(connection->context);
        pa_context_unref(connection->context);
        connection->context = nullptr;
    }
    if (connection->mainloop) {
        pa_threaded_mainloop_unlock(connection->mainloop);
        // Joins libpulse's thread. Its callbacks only copy audio and post events, so this takes
        // no longer than one of them.
        pa_threaded_mainloop_stop(connection->mainloop);
        pa_threaded_mainloop_free(connection->mainloop);
        connection->mainloop = nullptr;
    }
}

} // namespace aurelo
