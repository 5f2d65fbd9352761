#include "PulseAudioDevice.h"

#include "Platform.h"
#include "TickMoment.h"

#include <pulse/context.h>
#include <pulse/mainloop-api.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <limits>

namespace platform {

namespace {

constexpr std::size_t kSampleBytes = sizeof(std::int16_t);
constexpr std::chrono::milliseconds kLead{PulseAudioDevice::kLeadMs};
constexpr std::chrono::milliseconds kSoonest{PulseAudioDevice::kSoonestMs};

std::size_t FrameBytes(int channels)
{
    return static_cast<std::size_t>(channels) * kSampleBytes;
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
const char *StreamNameOf(const DecodedTone &tone)
{
    switch (tone.side) {
    case ToneSide::Left:
        return "Left tone";
    case ToneSide::Right:
        return "Right tone";
    case ToneSide::Both:
        break;
    }
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

// What the server holds of a stream: kTargetQueueMs ahead of the sink, and no prebuffering: a
// running stream plays on from whatever it holds, and the program keeps it full.
pa_buffer_attr BufferAttributes(const pa_sample_spec &format)
{
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(
        static_cast<pa_usec_t>(PulseAudioDevice::kTargetQueueMs) * PA_USEC_PER_MSEC, &format));
    attr.prebuf = 0;
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

} // namespace

PulseAudioDevice::PulseAudioDevice(std::function<void()> linkChanged, int keepRunningMs)
    : linkChanged_(std::move(linkChanged)), keepRunningMs_(keepRunningMs),
      trace_(SoundTrace::FromEnvironment(kLeadMs, kSoonestMs))
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
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
        for (pa_time_event **event : {&retry_, &pace_}) {
            if (*event)
                api->time_free(*event);
            *event = nullptr;
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
    // Each of these leaves what was learnt of the server's reading behind: the stream ran dry
    // (a stall), went to another output, or its output was suspended.
    for (auto set : {pa_stream_set_underflow_callback, pa_stream_set_moved_callback,
                     pa_stream_set_suspended_callback})
        set(stream, voice ? &PulseAudioDevice::OnStreamLostPace : nullptr, voice);
}

// The spare becomes the voice's, and a new spare is made for the next voice.
void PulseAudioDevice::TakeSpare(Voice &voice)
{
    voice.stream = spare_.stream;
    voice.streamRate = spare_.streamRate;
    voice.streamChannels = spare_.streamChannels;
    voice.streamReady = spare_.streamReady;
    voice.streamName = spare_.streamName;
    voice.written = spare_.written;
    voice.running = false;
    voice.epoch = spare_.epoch + 1; // a report the spare asked for is not the voice's
    voice.clock.Restart(Clock::now());
    spare_.stream = nullptr;
    spare_.streamReady = false;
    Watch(voice.stream, &voice);
    EnsureStream(spare_);
    if (voice.streamReady && InUse())
        Run(voice);
}

void PulseAudioDevice::ConnectStream(Voice &voice, int rate, int channels)
{
    pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate),
                          static_cast<std::uint8_t>(channels)};
    pa_channel_map map{};
    if (!pa_channel_map_init_auto(&map, static_cast<unsigned>(channels), PA_CHANNEL_MAP_DEFAULT) &&
        !pa_channel_map_init_auto(&map, static_cast<unsigned>(channels), PA_CHANNEL_MAP_AUX))
        return;
    voice.streamName = voice.tone ? StreamNameOf(*voice.tone) : "Tone";
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
    voice.running = false;
    voice.written = 0;
    voice.clock.Restart(Clock::now());
}

void PulseAudioDevice::DropStream(Voice &voice)
{
    voice.streamReady = false;
    voice.running = false;
    voice.playing = nullptr;
    voice.playPending = false;
    voice.timingAsked = false;
    voice.clock.Restart(Clock::now());
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
    const char *name = StreamNameOf(*voice.tone);
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
        device->NameStream(*voice);
        if (voice != &device->spare_ && device->InUse())
            device->Run(*voice);
        if (voice->playPending) {
            voice->playPending = false;
            device->Place(*voice, std::nullopt);
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

// ---------------------------------------------------------------------------------------
// Running streams and what they hold

bool PulseAudioDevice::InUse() const
{
    return Clock::now() - lastUse_ < std::chrono::milliseconds(keepRunningMs_);
}

// A tone was opened or played: the streams run, or go on running, for kKeepRunningMs more.
void PulseAudioDevice::Touch()
{
    lastUse_ = Clock::now();
}

// Uncorks the stream with a queue's worth of silence, and has the server report on it.
void PulseAudioDevice::Run(Voice &voice)
{
    if (!voice.stream || !voice.streamReady || voice.running)
        return;
    // While it was corked the server's reading stood still: what was known of it is stale.
    voice.clock.Restart(Clock::now());
    Feed(voice, pa_stream_writable_size(voice.stream));
    Forget(pa_stream_cork(voice.stream, 0, nullptr, nullptr));
    voice.running = true;
    if (!pace_) {
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop_);
        pace_ = api->time_new(api, nullptr, &PulseAudioDevice::OnPace, this);
    }
    timeval when{};
    pa_gettimeofday(&when);
    pa_threaded_mainloop_get_api(loop_)->time_restart(pace_, &when);
}

// Corks a stream that is no longer in use; what it still holds is silence.
void PulseAudioDevice::Park(Voice &voice)
{
    if (!voice.running)
        return;
    voice.running = false;
    voice.playing = nullptr;
    if (voice.stream && voice.streamReady)
        Forget(pa_stream_cork(voice.stream, 1, nullptr, nullptr));
}

// Drops what the stream holds: what is written next is what the server reads next.
void PulseAudioDevice::Flush(Voice &voice)
{
    Forget(pa_stream_flush(voice.stream, nullptr, nullptr));
    ++voice.epoch;
    voice.clock.Restart(Clock::now());
}

// The stream's frames from `from` for `frames`, as they must sound, into scratch_: the placed
// tone where it lies, silence elsewhere.
void PulseAudioDevice::Render(const Voice &voice, long long from, std::size_t frames)
{
    const auto channels = static_cast<std::size_t>(voice.streamChannels);
    scratch_.assign(frames * channels, 0);
    if (!voice.playing)
        return;
    const long long begin = std::max(from, voice.toneStart);
    const long long end = std::min(from + static_cast<long long>(frames), voice.toneStop);
    if (begin >= end)
        return;
    const std::int16_t *source = voice.playing->samples.data() +
                                 static_cast<std::size_t>(begin - voice.toneStart) * channels;
    std::copy(source, source + static_cast<std::size_t>(end - begin) * channels,
              scratch_.begin() +
                  static_cast<std::ptrdiff_t>(static_cast<std::size_t>(begin - from) * channels));
}

// Hands the server `bytes` more of the stream.
void PulseAudioDevice::Feed(Voice &voice, std::size_t bytes)
{
    const std::size_t frames = bytes / FrameBytes(voice.streamChannels);
    if (frames == 0 || bytes == static_cast<std::size_t>(-1))
        return;
    Render(voice, voice.written, frames);
    if (pa_stream_write(voice.stream, scratch_.data(), scratch_.size() * kSampleBytes, nullptr, 0,
                        PA_SEEK_RELATIVE) == 0)
        voice.written += static_cast<long long>(frames);
}

// Writes again what the stream already holds from `from` on, as it must now sound.
void PulseAudioDevice::Rewrite(Voice &voice, long long from)
{
    if (from >= voice.written)
        return;
    const auto frames = static_cast<std::size_t>(voice.written - from);
    Render(voice, from, frames);
    const auto bytes = scratch_.size() * kSampleBytes;
    pa_stream_write(voice.stream, scratch_.data(), bytes, nullptr,
                    -static_cast<std::int64_t>(bytes), PA_SEEK_RELATIVE);
}

void PulseAudioDevice::OnStreamWrite(pa_stream *, std::size_t bytes, void *user)
{
    auto *voice = static_cast<Voice *>(user);
    if (voice->streamReady)
        voice->device->Feed(*voice, bytes);
}

// What was learnt of where the server reads no longer holds: it is learnt afresh, and until
// then a tone sounds as soon as the server reads again.
void PulseAudioDevice::OnStreamLostPace(pa_stream *, void *user)
{
    static_cast<Voice *>(user)->clock.Restart(Clock::now());
}

// ---------------------------------------------------------------------------------------
// The server's clock

void PulseAudioDevice::OnPace(pa_mainloop_api *api, pa_time_event *event, const timeval *,
                              void *user)
{
    auto *device = static_cast<PulseAudioDevice *>(user);
    device->Pace();
    bool running = false;
    bool young = false;
    const auto now = Clock::now();
    for (auto &voice : device->voices_) {
        running = running || voice->running;
        // A stream that has just started (or moved, or stalled) has few reports yet: it is
        // asked more often, so that the first tones, a leg later, are placed by many.
        young = young || (voice->running &&
                          now - voice->clock.Since() < std::chrono::milliseconds(kYoungMs));
    }
    if (!running) {
        api->time_restart(event, nullptr);
        return;
    }
    const int mean = young ? kYoungTimingUs : kTimingUs;
    std::uniform_int_distribution<int> wait(mean / 2, mean + mean / 2);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(wait(device->paceDraw_)));
    api->time_restart(event, &when);
}

// About every kTimingUs while a stream runs: a report asked of each running stream, and the
// streams parked once tones are no longer in use.
void PulseAudioDevice::Pace()
{
    const bool inUse = InUse();
    for (auto &voice : voices_) {
        Voice &v = *voice;
        if (!v.running)
            continue;
        if (!inUse && !(v.playing && Clock::now() < v.soundsUntil)) {
            Park(v);
            continue;
        }
        KeepAhead(v);
        if (v.timingAsked)
            continue;
        if (pa_operation *asked =
                pa_stream_update_timing_info(v.stream, &PulseAudioDevice::OnTiming, &v)) {
            pa_operation_unref(asked);
            v.timingAsked = true;
            v.askedEpoch = v.epoch;
        }
    }
}

// The server asks for no more than its queue; the stream is kept kAheadMs ahead of its
// reading all the same, so that this thread can be held up that long by a busy machine
// without the server running dry in the middle of a tone. It is topped up in pieces of a
// report's average wait at least, however often reports are asked for.
void PulseAudioDevice::KeepAhead(Voice &voice)
{
    const std::optional<long long> ahead =
        FrameAt(voice, Clock::now() + std::chrono::milliseconds(kAheadMs));
    const long long piece = voice.streamRate * kTimingUs / 1'000'000;
    if (ahead && *ahead >= voice.written + piece)
        Feed(voice,
             static_cast<std::size_t>(*ahead - voice.written) * FrameBytes(voice.streamChannels));
}

void PulseAudioDevice::OnTiming(pa_stream *stream, int success, void *user)
{
    auto *voice = static_cast<Voice *>(user);
    voice->timingAsked = false;
    // A report on a stream the voice no longer has, or from before a flush, tells nothing.
    if (!success || !voice->running || stream != voice->stream || voice->askedEpoch != voice->epoch)
        return;
    if (const pa_timing_info *info = pa_stream_get_timing_info(stream))
        voice->device->TakeReport(*voice, *info);
}

// A report: where the server reads now, in this device's count of the stream's frames.
void PulseAudioDevice::TakeReport(Voice &voice, const pa_timing_info &info)
{
    if (info.read_index_corrupt || info.write_index_corrupt)
        return;
    const auto frameBytes = static_cast<long long>(FrameBytes(voice.streamChannels));
    // The server's index less this device's count: they part at a flush.
    const long long indexOffset = info.write_index / frameBytes - voice.written;
    const auto now = Clock::now();
    const long long readFrame = info.read_index / frameBytes - indexOffset;
    const auto sinkUs = static_cast<long long>(info.sink_usec);
    voice.clock.Take(now, readFrame, sinkUs, voice.streamRate);
    if (trace_)
        trace_->Report(voice.streamName, now, readFrame, voice.written, sinkUs, voice.clock.Since(),
                       voice.streamRate);
}

// Where what is asked for at `asked` goes in the stream: the lead after the tick that asked,
// unless that tick came so long before that the place is gone; asked for outside a tick, as
// soon as the stream allows. Both beyond what the server says its output holds ahead of
// what it has read (the PulseAudio daemon's sink renders its next block as it reads;
// PipeWire's service says nothing there).
PulseAudioDevice::Clock::time_point
PulseAudioDevice::PlaceTime(const Voice &voice, std::optional<Clock::time_point> asked,
                            Clock::time_point now)
{
    const long long ahead = voice.clock.AheadUs(now);
    const auto soonest = now + kSoonest + std::chrono::microseconds(ahead);
    return asked ? std::max(*asked + kLead + std::chrono::microseconds(ahead), soonest) : soonest;
}

// The stream's frame that the server reads at `when`, by its recent reports; none while they
// are too few to tell.
std::optional<long long> PulseAudioDevice::FrameAt(const Voice &voice, Clock::time_point when)
{
    return voice.clock.FrameAt(when, voice.streamRate);
}

// ---------------------------------------------------------------------------------------
// Tones in the stream

// Places the voice's tone to sound the lead after `asked` (the moment of the tick that asked
// for it) or, asked for outside a tick, as soon as the stream allows.
void PulseAudioDevice::Place(Voice &voice, std::optional<Clock::time_point> asked)
{
    voice.playing = voice.tone;
    const auto at = PlaceTime(voice, asked, Clock::now());
    const std::optional<long long> frame = voice.running ? FrameAt(voice, at) : std::nullopt;
    // A stream just started, or one without enough reports yet: what it holds is dropped and
    // the tone written next, so that it is read the moment the server reads again.
    const bool wasRunning = voice.running;
    if (!frame && (voice.running || voice.written > 0))
        Flush(voice);
    voice.toneStart = frame ? *frame : voice.written;
    voice.toneStop = voice.toneStart + static_cast<long long>(voice.playing->Frames());
    voice.soundsUntil = at + Length(*voice.playing);
    if (trace_)
        trace_->Tone(voice.streamName, asked, at, voice.toneStart);
    Rewrite(voice, voice.toneStart);
    // The rest of the tone (of a long one, its first second) goes at once too: a busy moment
    // of this thread then cannot leave the server without it.
    const long long rest =
        std::min(voice.toneStop, voice.toneStart + voice.streamRate) - voice.written;
    if (rest > 0)
        Feed(voice, static_cast<std::size_t>(rest) * FrameBytes(voice.streamChannels));
    if (!wasRunning)
        Run(voice);
}

// Silences the voice from the lead after `asked` on (or as soon as the stream allows): a tone
// still sounding then is cut there.
void PulseAudioDevice::StopAt(Voice &voice, std::optional<Clock::time_point> asked)
{
    if (!voice.playing)
        return;
    const auto now = Clock::now();
    if (!voice.running || now >= voice.soundsUntil) {
        voice.playing = nullptr;
        return;
    }
    const auto at = PlaceTime(voice, asked, now);
    const std::optional<long long> frame = FrameAt(voice, at);
    if (!frame) {
        voice.playing = nullptr;
        Flush(voice);
        return;
    }
    if (*frame >= voice.toneStop)
        return; // the tone ends before then
    voice.toneStop = std::max(*frame, voice.toneStart);
    voice.soundsUntil = std::min(voice.soundsUntil, at);
    Rewrite(voice, voice.toneStop);
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
        // Tones are about to be played: the stream runs from now, so that the first of them
        // already keeps the beat.
        Touch();
        EnsureStream(v);
        NameStream(v);
        Run(v);
    }
    return result;
}

void PulseAudioDevice::Command(int voice, VoiceCommand command)
{
    if (!loop_ || !Valid(voice))
        return;
    const std::optional<Clock::time_point> asked = detail::CurrentTickMoment();
    Locked lock(loop_);
    Voice &v = *voices_[static_cast<std::size_t>(voice)];
    if (command == VoiceCommand::Play) {
        Start(v, asked);
        return;
    }
    v.playPending = false;
    StopAt(v, asked);
    if (command == VoiceCommand::Close)
        v.tone = nullptr;
}

void PulseAudioDevice::Start(Voice &voice, std::optional<Clock::time_point> asked)
{
    // Without a server the tone is not kept for later: it belongs to this turn.
    if (!voice.tone || link_ != Link::Ready)
        return;
    Touch();
    EnsureStream(voice);
    if (voice.stream && voice.streamReady)
        Place(voice, asked);
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
    return v.running && v.playing && Clock::now() < v.soundsUntil;
}

bool PulseAudioDevice::Running() const
{
    if (!loop_)
        return false;
    Locked lock(loop_);
    return std::any_of(voices_.begin(), voices_.end(), [](const auto &v) { return v->running; });
}

} // namespace platform
