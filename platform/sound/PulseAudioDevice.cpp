#include "PulseAudioDevice.h"

#include "Platform.h"

#include <pulse/context.h>
#include <pulse/mainloop-api.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <array>

namespace platform {

namespace {

constexpr std::size_t kSampleBytes = sizeof(std::int16_t);

// A block of silence for the trails, written from as often as a trail needs.
constexpr std::size_t kZeroBytes = 16384;
const std::int16_t *Zeros()
{
    static const std::array<std::int16_t, kZeroBytes / kSampleBytes> zeros{};
    return zeros.data();
}

// The silence that follows a tone, in samples: kTrailMs of the tone's own format.
std::size_t TrailSamples(const DecodedTone &tone)
{
    return static_cast<std::size_t>(tone.rate) * PulseAudioDevice::kTrailMs / 1000 *
           static_cast<std::size_t>(tone.channels);
}

// Holds the library's lock for the length of a call from the program's thread.
class Locked
{
public:
    explicit Locked(pa_threaded_mainloop *loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~Locked() { pa_threaded_mainloop_unlock(loop_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

// The server answers a command later; nothing here waits for the answer.
void Forget(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}

// What the desktop's sound settings show of a stream: the side its tone sounds on, so that the
// practitioner can tell the two apart. A tone on both sides, or none, is a plain tone.
const char *SideOf(const DecodedTone &tone)
{
    bool left = false;
    bool right = false;
    if (tone.channels == 2) {
        for (std::size_t i = 0; i + 1 < tone.samples.size() && !(left && right); i += 2) {
            left = left || tone.samples[i] != 0;
            right = right || tone.samples[i + 1] != 0;
        }
    }
    if (left != right)
        return left ? "Left tone" : "Right tone";
    return "Tone";
}

// A property list of the given properties, to be freed by the caller.
pa_proplist *Properties(std::initializer_list<std::pair<const char *, const char *>> properties)
{
    pa_proplist *list = pa_proplist_new();
    for (const auto &[key, value] : properties)
        pa_proplist_sets(list, key, value);
    return list;
}

std::chrono::steady_clock::duration Length(const DecodedTone &tone)
{
    return std::chrono::microseconds(static_cast<long long>(tone.Frames()) * 1'000'000 / tone.rate);
}

// What the server holds of a stream: kTargetQueueMs ahead of the sink.
pa_buffer_attr BufferAttributes(const pa_sample_spec &format)
{
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(
        static_cast<pa_usec_t>(PulseAudioDevice::kTargetQueueMs) * PA_USEC_PER_MSEC, &format));
    // Left to the server: it keeps some prebuffering, so an emptied stream is not woken over
    // and over for data while it waits to be corked. A minimum request as long as the queue
    // halves the server's requests near a tone's end (9.5 wake-ups of the library's thread a
    // tone instead of 13.7), but the server then holds twice as much ahead and the tone came
    // 1.3 ms later at the median: a tone on time is worth more than a few wake-ups.
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

} // namespace

PulseAudioDevice::PulseAudioDevice(std::function<void()> linkChanged)
    : linkChanged_(std::move(linkChanged))
{
    spare_.device = this;
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        link_ = Link::Lost;
        return;
    }
    pa_threaded_mainloop_set_name(loop_, "tarrowin-sound");
    Locked lock(loop_);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        link_ = Link::Lost;
        return;
    }
    Connect();
}

PulseAudioDevice::~PulseAudioDevice()
{
    if (!loop_)
        return;
    {
        Locked lock(loop_);
        if (retry_) {
            pa_threaded_mainloop_get_api(loop_)->time_free(retry_);
            retry_ = nullptr;
        }
        linkChanged_ = nullptr;
        DropConnection();
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

// ---------------------------------------------------------------------------------------
// The connection

void PulseAudioDevice::Connect()
{
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
    // The server, and the desktop's sound settings, know the program by its desktop entry: its
    // name and icon there, and the output chosen for it, remembered under its id.
    pa_proplist *properties = Properties({{PA_PROP_APPLICATION_NAME, kProgramName},
                                          {PA_PROP_APPLICATION_ID, kDesktopId},
                                          {PA_PROP_APPLICATION_ICON_NAME, kDesktopId}});
    context_ = pa_context_new_with_proplist(api, kProgramName, properties);
    pa_proplist_free(properties);
    if (!context_) {
        SetLink(Link::Lost);
        ScheduleRetry();
        return;
    }
    pa_context_set_state_callback(context_, &PulseAudioDevice::OnContextState, this);
    // The program never starts a sound server of its own: the desktop's, or none.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        DropConnection();
        SetLink(Link::Lost);
        ScheduleRetry();
    }
}

void PulseAudioDevice::DropConnection()
{
    for (auto &voice : voices_)
        DropStream(*voice);
    DropStream(spare_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseAudioDevice::ScheduleRetry()
{
    if (retry_)
        return;
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(kRetryMs) * PA_USEC_PER_MSEC);
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
    retry_ = api->time_new(api, &when, &PulseAudioDevice::OnRetry, this);
}

void PulseAudioDevice::OnRetry(pa_mainloop_api *api, pa_time_event *event, const timeval *,
                               void *user)
{
    auto *device = static_cast<PulseAudioDevice *>(user);
    api->time_free(event);
    device->retry_ = nullptr;
    device->Connect();
}

void PulseAudioDevice::SetLink(Link link)
{
    if (link_ == link)
        return;
    link_ = link;
    if (linkChanged_)
        linkChanged_();
}

void PulseAudioDevice::OnContextState(pa_context *context, void *user)
{
    auto *device = static_cast<PulseAudioDevice *>(user);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        device->everReady_ = true;
        device->SetLink(Link::Ready);
        // The voices get their streams back on the tones they hold, and a spare is readied.
        for (auto &voice : device->voices_) {
            if (voice->tone)
                device->EnsureStream(*voice);
        }
        device->EnsureStream(device->spare_);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        // The library holds its own reference to the context while it tells of the change.
        device->DropConnection();
        device->SetLink(Link::Lost);
        device->ScheduleRetry();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------
// Streams

void PulseAudioDevice::EnsureStream(Voice &voice)
{
    const bool spare = &voice == &spare_;
    const int rate = spare ? kCommonRate : voice.tone->rate;
    const int channels = spare ? kCommonChannels : voice.tone->channels;
    if (voice.stream && voice.streamRate == rate && voice.streamChannels == channels)
        return;
    DropStream(voice);
    if (link_ != Link::Ready || !context_)
        return;
    if (!spare && spare_.stream && spare_.streamRate == rate && spare_.streamChannels == channels)
        TakeSpare(voice);
    else
        ConnectStream(voice, rate, channels);
}

// The stream's news goes to the voice; no voice: to nobody.
void PulseAudioDevice::Watch(pa_stream *stream, Voice *voice)
{
    pa_stream_set_state_callback(stream, voice ? &PulseAudioDevice::OnStreamState : nullptr, voice);
    pa_stream_set_write_callback(stream, voice ? &PulseAudioDevice::OnStreamWrite : nullptr, voice);
    pa_stream_set_underflow_callback(stream, voice ? &PulseAudioDevice::OnStreamUnderflow : nullptr,
                                     voice);
}

// The spare becomes the voice's, and a new spare is made for the next voice.
void PulseAudioDevice::TakeSpare(Voice &voice)
{
    voice.stream = spare_.stream;
    voice.streamRate = spare_.streamRate;
    voice.streamChannels = spare_.streamChannels;
    voice.streamReady = spare_.streamReady;
    voice.prebufBytes = spare_.prebufBytes;
    voice.streamName = spare_.streamName;
    voice.holdsData = false;
    spare_.stream = nullptr;
    spare_.streamReady = false;
    Watch(voice.stream, &voice);
    EnsureStream(spare_);
}

void PulseAudioDevice::ConnectStream(Voice &voice, int rate, int channels)
{
    pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate),
                          static_cast<std::uint8_t>(channels)};
    pa_channel_map map{};
    if (!pa_channel_map_init_auto(&map, static_cast<unsigned>(channels), PA_CHANNEL_MAP_DEFAULT) &&
        !pa_channel_map_init_auto(&map, static_cast<unsigned>(channels), PA_CHANNEL_MAP_AUX))
        return;
    voice.streamName = voice.tone ? SideOf(*voice.tone) : "Tone";
    pa_proplist *properties = Properties({{PA_PROP_MEDIA_NAME, voice.streamName}});
    pa_stream *stream =
        pa_stream_new_with_proplist(context_, voice.streamName, &format, &map, properties);
    pa_proplist_free(properties);
    if (!stream)
        return;
    Watch(stream, &voice);
    const pa_buffer_attr attr = BufferAttributes(format);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        Watch(stream, nullptr);
        pa_stream_unref(stream);
        return;
    }
    voice.stream = stream;
    voice.streamRate = rate;
    voice.streamChannels = channels;
    voice.streamReady = false;
    voice.uncorked = false;
}

void PulseAudioDevice::DropStream(Voice &voice)
{
    voice.streamReady = false;
    voice.holdsData = false;
    voice.uncorked = false;
    voice.playing = nullptr;
    voice.playPending = false;
    if (!voice.stream)
        return;
    pa_stream *stream = voice.stream;
    voice.stream = nullptr;
    Watch(stream, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_READY ||
        pa_stream_get_state(stream) == PA_STREAM_CREATING)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

// A stream is named after the side of the tone its voice holds; a spare given to a voice, or
// a voice given the other side's tone, is named anew.
void PulseAudioDevice::NameStream(Voice &voice)
{
    if (!voice.stream || !voice.streamReady || !voice.tone)
        return;
    const char *name = SideOf(*voice.tone);
    if (name == voice.streamName)
        return;
    voice.streamName = name;
    Forget(pa_stream_set_name(voice.stream, name, nullptr, nullptr));
}

void PulseAudioDevice::OnStreamState(pa_stream *stream, void *user)
{
    auto *voice = static_cast<Voice *>(user);
    PulseAudioDevice *device = voice->device;
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        voice->streamReady = true;
        if (const pa_buffer_attr *attr = pa_stream_get_buffer_attr(stream))
            voice->prebufBytes = attr->prebuf;
        device->NameStream(*voice);
        if (voice->playPending) {
            voice->playPending = false;
            device->StartPlaying(*voice);
        }
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        // The stream alone went (its output was taken away): a new one is made at the next
        // open or play while the server still answers.
        device->DropStream(*voice);
        break;
    default:
        break;
    }
}

void PulseAudioDevice::StartPlaying(Voice &voice)
{
    voice.playing = voice.tone;
    voice.fedSamples = 0;
    if (!voice.playing || !voice.stream)
        return;
    voice.started = std::chrono::steady_clock::now();
    // What the stream still holds of the last tone or its trail goes; the whole new tone (or
    // its first second) is there before the stream runs, so the server cannot run dry inside
    // it. Every command costs the library's thread a reply: a stream that was never written
    // to since it was last emptied is not flushed. A stream that ran dry is not taken for
    // empty: PipeWire's service reports running dry while it still holds the part of the
    // trail that is shorter than its graph's cycle.
    if (voice.holdsData)
        Forget(pa_stream_flush(voice.stream, nullptr, nullptr));
    const std::size_t firstBytes = static_cast<std::size_t>(kFirstWriteSeconds) *
                                   static_cast<std::size_t>(voice.playing->rate) *
                                   static_cast<std::size_t>(voice.playing->channels) * kSampleBytes;
    Feed(voice, firstBytes);
    if (!voice.uncorked) {
        Forget(pa_stream_cork(voice.stream, 0, nullptr, nullptr));
        voice.uncorked = true;
    }
    // A tone shorter than the server's prebuffering would otherwise wait for more.
    const std::size_t toneBytes =
        (voice.playing->samples.size() + TrailSamples(*voice.playing)) * kSampleBytes;
    if (toneBytes < voice.prebufBytes)
        Forget(pa_stream_trigger(voice.stream, nullptr, nullptr));
}

// Hands the server up to `bytes` more of the tone and, once the tone is all there, of its
// silent trail.
void PulseAudioDevice::Feed(Voice &voice, std::size_t bytes)
{
    const DecodedTone &tone = *voice.playing;
    const std::size_t frameBytes = static_cast<std::size_t>(tone.channels) * kSampleBytes;
    const std::size_t toneSamples = tone.samples.size();
    const std::size_t total = toneSamples + TrailSamples(tone);
    std::size_t n = std::min(bytes, (total - voice.fedSamples) * kSampleBytes);
    n -= n % frameBytes;
    while (n > 0) {
        const bool inTone = voice.fedSamples < toneSamples;
        const std::int16_t *from = inTone ? tone.samples.data() + voice.fedSamples : Zeros();
        const std::size_t room = inTone ? (toneSamples - voice.fedSamples) * kSampleBytes
                                        : kZeroBytes - kZeroBytes % frameBytes;
        const std::size_t chunk = std::min(n, room);
        if (pa_stream_write(voice.stream, from, chunk, nullptr, 0, PA_SEEK_RELATIVE) != 0)
            return;
        voice.fedSamples += chunk / kSampleBytes;
        voice.holdsData = true;
        n -= chunk;
    }
}

void PulseAudioDevice::OnStreamWrite(pa_stream *, std::size_t bytes, void *user)
{
    auto *voice = static_cast<Voice *>(user);
    if (voice->playing && voice->streamReady)
        voice->device->Feed(*voice, bytes);
}

// The stream ran out. When its tone has had its time it is corked, so that an idle stream
// costs nothing; an underflow in the middle of a tone, or one still on its way from the tone
// before, leaves it running.
void PulseAudioDevice::OnStreamUnderflow(pa_stream *, void *user)
{
    auto *voice = static_cast<Voice *>(user);

    if (!voice->uncorked)
        return;
    if (voice->playing) {
        const DecodedTone &tone = *voice->playing;
        const bool allFed = voice->fedSamples >= tone.samples.size() + TrailSamples(tone);
        // The stream runs dry as its last block goes to the output, up to the server's queue
        // before the tone and its trail have sounded to their end.
        const auto length = Length(tone) + std::chrono::milliseconds(kTrailMs);
        const auto queue = std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(2 * kTargetQueueMs), length / 2);
        const bool hadItsTime = std::chrono::steady_clock::now() - voice->started >= length - queue;
        if (!allFed || !hadItsTime)
            return;
    }
    voice->device->Silence(*voice);
}

void PulseAudioDevice::Silence(Voice &voice)
{
    voice.playing = nullptr;
    voice.playPending = false;
    if (!voice.stream || !voice.streamReady)
        return;
    if (voice.holdsData) {
        Forget(pa_stream_flush(voice.stream, nullptr, nullptr));
        voice.holdsData = false;
    }
    if (voice.uncorked) {
        Forget(pa_stream_cork(voice.stream, 1, nullptr, nullptr));
        voice.uncorked = false;
    }
}

// ---------------------------------------------------------------------------------------
// The voices

bool PulseAudioDevice::Valid(int voice) const
{
    return numbers_.InUse(voice);
}

int PulseAudioDevice::AllocateVoice()
{
    if (!loop_)
        return -1;
    Locked lock(loop_);
    const auto voice = static_cast<std::size_t>(numbers_.Take());
    if (voice == voices_.size())
        voices_.push_back(std::make_unique<Voice>());
    *voices_[voice] = Voice{};
    voices_[voice]->device = this;
    return static_cast<int>(voice);
}

void PulseAudioDevice::ReleaseVoice(int voice)
{
    if (!loop_ || !Valid(voice))
        return;
    Locked lock(loop_);
    Voice &v = *voices_[static_cast<std::size_t>(voice)];
    DropStream(v);
    v.tone = nullptr;
    numbers_.Give(voice);
}

AudioResult PulseAudioDevice::Open(int voice, const std::string &path)
{
    if (!loop_)
        return {false, "the sound library could not start"};
    if (!Valid(voice))
        return {false, "there is no such voice"};
    // Decoding happens outside the lock: the library's thread never waits for a large file.
    AudioResult result;
    std::shared_ptr<const DecodedTone> tone = cache_.Get(path, result);
    Locked lock(loop_);
    Voice &v = *voices_[static_cast<std::size_t>(voice)];
    v.tone = std::move(tone);
    if (v.tone) {
        EnsureStream(v);
        NameStream(v);
    }
    return result;
}

void PulseAudioDevice::Command(int voice, VoiceCommand command)
{
    if (!loop_ || !Valid(voice))
        return;
    Locked lock(loop_);
    Voice &v = *voices_[static_cast<std::size_t>(voice)];
    if (command == VoiceCommand::Play) {
        Start(v);
        return;
    }
    // A silent voice is left alone: every turn stops the other side, mostly long silent.
    if (v.uncorked || v.playing || v.playPending)
        Silence(v);
    if (command == VoiceCommand::Close)
        v.tone = nullptr;
}

void PulseAudioDevice::Start(Voice &voice)
{
    // Without a server the tone is not kept for later: it belongs to this turn.
    if (!voice.tone || link_ != Link::Ready)
        return;
    EnsureStream(voice);
    if (voice.stream && voice.streamReady)
        StartPlaying(voice);
    else if (voice.stream)
        voice.playPending = true;
}

PulseAudioDevice::Link PulseAudioDevice::CurrentLink() const
{
    if (!loop_)
        return link_;
    Locked lock(loop_);
    return link_;
}

bool PulseAudioDevice::EverReady() const
{
    if (!loop_)
        return false;
    Locked lock(loop_);
    return everReady_;
}

bool PulseAudioDevice::Sounding(int voice) const
{
    if (!loop_ || !Valid(voice))
        return false;
    Locked lock(loop_);
    const Voice &v = *voices_[static_cast<std::size_t>(voice)];
    return v.uncorked && v.playing &&
           std::chrono::steady_clock::now() - v.started < Length(*v.playing);
}

} // namespace platform
