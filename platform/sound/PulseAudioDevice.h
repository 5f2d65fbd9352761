// The program's sound output through the desktop's sound server (PulseAudio, or PipeWire's
// service that answers the same protocol).
//
// Each voice has a playback stream of its own, made when the voice is first given a tone.
// While tones are in use (a voice was opened or played within kKeepRunningMs) the streams
// run on the server's clock without a break, kept kAheadMs ahead with silence, and each tone
// is written into what the stream holds at the place the server's output reaches a fixed time
// (the lead) after the moment it was asked for: for a turn, the moment of the motion tick
// that made the turn. The tones then keep the turns' beat to a fraction of a millisecond
// whatever the server's cycle, nothing of a tone is ever left waiting in the server for the
// next one (a running stream never runs dry), and the streams can ask the server for a queue
// as long as a desktop's own cycle instead of shortening every other program's cycle to
// theirs.
//
// Where the stream's samples are is learnt from the server's timing reports (ReadClock), asked
// for about every kTimingUs while a stream runs; a stream that moves to another output, whose
// output is suspended or that ran dry learns it all afresh.
//
// A tone asked for outside a tick (the settings window's preview) has no beat to keep and
// sounds kSoonestMs after it was asked for, the soonest the stream allows, as does a tick's
// tone asked for so late that its place has gone. When tones are no longer in use the
// streams are corked: an idle program costs the server and the machine nothing.
//
// The library runs its own thread. Every call from the program's thread takes the library's
// lock for a few microseconds; nothing here waits on the server. When the server goes away
// the device says so through the link handler and tries again once a second; when it is
// back, the streams are made again for the tones the voices hold, so the next "Play" sounds.
// Streams name no output device: the server moves them when the practitioner chooses another
// output or plugs in headphones.
#pragma once

#include "AudioDevice.h"
#include "ReadClock.h"
#include "SoundTrace.h"
#include "ToneFile.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;
struct pa_timing_info;

namespace platform {

class PulseAudioDevice : public AudioDevice
{
public:
    // What the server holds ahead of the sink. PipeWire's service turns a stream's queue into
    // the cycle it asks of the whole graph (a quarter of it or so): this one asks no shorter
    // cycle than a desktop's default of 1024 frames, and the PulseAudio daemon sets its sink
    // to at least 20 ms for it.
    static constexpr int kTargetQueueMs = 90;
    // How far ahead of the server's reading a running stream is kept written.
    static constexpr int kAheadMs = 200;
    // How often a running stream asks the server where it is reading, on average: each wait
    // is drawn between half and one and a half times this, so that the reports fall at every
    // point of the server's cycle and not, at a steady pace that happens to fit the cycle,
    // always at the same few.
    static constexpr int kTimingUs = 10'000;
    // For this long after a stream starts, or after what was known of its server's reading
    // was dropped (a move, a stall), every kYoungTimingUs.
    static constexpr int kYoungMs = 1000;
    static constexpr int kYoungTimingUs = 1'000;
    // The lead: from the moment a tone is asked for to the moment the server reads its first
    // samples, beyond what the server says its output holds ahead of its reading. Room for
    // the tone to reach the server before it reads there, also on a busy machine. What the
    // listener hears follows by the server's own output latency: on PipeWire one cycle of its
    // graph.
    static constexpr int kLeadMs = 15;
    // The least time from writing a tone to the server's reading it: where a tick's tone is
    // asked for so late that its lead has mostly gone, and for a tone asked for outside a tick.
    static constexpr int kSoonestMs = 8;
    // Streams run on for this long after the last tone was opened or played: longer than two
    // legs of the slowest stimulation, so that a running stimulation never stops them.
    static constexpr int kKeepRunningMs = 10000;
    // Between two tries to reach a server that went away.
    static constexpr int kRetryMs = 1000;

    enum class Link { Connecting, Ready, Lost };

    // Starts the library's thread and the first connection; returns at once. linkChanged is
    // called on the library's thread whenever CurrentLink() changes, with the library's lock
    // held: it must not call into the device, only pass the news on to the program's thread.
    // keepRunningMs: tests shorten it.
    explicit PulseAudioDevice(std::function<void()> linkChanged = {},
                              int keepRunningMs = kKeepRunningMs);
    ~PulseAudioDevice() override;

    // No device error: files are decoded and held whether or not the server answers. Whether
    // sound is heard is CurrentLink().
    int AllocateVoice() override;
    // Its stream goes with it.
    void ReleaseVoice(int voice) override;
    AudioResult Open(int voice, const std::string &path) override;
    void Command(int voice, VoiceCommand command) override;

    Link CurrentLink() const;
    // Whether a server has answered at least once.
    bool EverReady() const;

    // For tests and measurements.
    int DecodeCount() const { return cache_.DecodeCount(); }
    // Whether the voice is sounding now: a tone placed that has not run out.
    bool Sounding(int voice) const;
    // Whether any stream runs (uncorked).
    bool Running() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Voice
    {
        PulseAudioDevice *device = nullptr;
        std::shared_ptr<const DecodedTone> tone;    // what the voice has open
        std::shared_ptr<const DecodedTone> playing; // the tone placed in its stream
        // Frames of the stream, counted from its first written frame by this device.
        long long toneStart = 0;         // where the placed tone begins
        long long toneStop = 0;          // where it ends, at its end or where it was stopped
        long long written = 0;           // the stream's write position
        Clock::time_point soundsUntil{}; // when the placed tone has sounded to its end
        pa_stream *stream = nullptr;
        int streamRate = 0;
        int streamChannels = 0;
        bool streamReady = false;
        bool playPending = false;         // "Play" came before the stream was ready
        bool running = false;             // uncorked and fed
        const char *streamName = nullptr; // what the server shows of it
        unsigned epoch = 0;               // counts flushes: a report asked for before one is stale
        bool timingAsked = false;         // a report is on its way
        unsigned askedEpoch = 0;          // the epoch it was asked in
        ReadClock clock;                  // where the server reads the stream
    };

    // All of these run with the library's lock held.
    void Connect();
    void DropConnection();
    void ScheduleRetry();
    void SetLink(Link link);
    void EnsureStream(Voice &voice);
    void TakeSpare(Voice &voice);
    void ConnectStream(Voice &voice, int rate, int channels);
    void DropStream(Voice &voice);
    void NameStream(Voice &voice);
    static void Watch(pa_stream *stream, Voice *voice);
    void Start(Voice &voice, std::optional<Clock::time_point> asked);
    bool InUse() const;
    void Place(Voice &voice, std::optional<Clock::time_point> asked);
    void StopAt(Voice &voice, std::optional<Clock::time_point> asked);
    void Run(Voice &voice);
    void Park(Voice &voice);
    void Flush(Voice &voice);
    void Rewrite(Voice &voice, long long from);
    void Render(const Voice &voice, long long from, std::size_t frames);
    void Feed(Voice &voice, std::size_t bytes);
    void KeepAhead(Voice &voice);
    static std::optional<long long> FrameAt(const Voice &voice, Clock::time_point when);
    static Clock::time_point PlaceTime(const Voice &voice, std::optional<Clock::time_point> asked,
                                       Clock::time_point now);
    void TakeReport(Voice &voice, const pa_timing_info &info);
    void Touch();
    void Pace();
    bool Valid(int voice) const;

    static void OnContextState(pa_context *context, void *user);
    static void OnStreamState(pa_stream *stream, void *user);
    static void OnStreamWrite(pa_stream *stream, std::size_t bytes, void *user);
    static void OnStreamLostPace(pa_stream *stream, void *user);
    static void OnTiming(pa_stream *stream, int success, void *user);
    static void OnRetry(pa_mainloop_api *api, pa_time_event *event, const struct timeval *,
                        void *user);
    static void OnPace(pa_mainloop_api *api, pa_time_event *event, const struct timeval *,
                       void *user);

    std::function<void()> linkChanged_;
    const int keepRunningMs_;
    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_time_event *retry_ = nullptr;
    pa_time_event *pace_ = nullptr; // while a stream runs: its reports and the end of use
    Link link_ = Link::Connecting;
    bool everReady_ = false;
    std::vector<std::unique_ptr<Voice>> voices_;
    VoiceNumbers numbers_;
    // A stream of the most common kind (44.1 kHz stereo), made ready before any voice asks,
    // so that the first tone of a voice does not wait for a stream to be made.
    Voice spare_;
    ToneCache cache_;
    Clock::time_point lastUse_{};
    std::minstd_rand paceDraw_;         // the waits between reports
    std::vector<std::int16_t> scratch_; // a rendered stretch on its way to the server
    std::unique_ptr<SoundTrace> trace_; // what the server told and where tones went, if asked
};

} // namespace platform
