// The program's sound output through the desktop's sound server (PulseAudio, or PipeWire's
// service that answers the same protocol).
//
// Each voice has a playback stream of its own, made when the voice is first given a tone
// and kept corked while it is silent: an idle stream costs the server and the program
// nothing, and it is ready the moment a turn asks for its tone. "Play" drops whatever the
// stream still holds, hands the server the whole tone at once (a long file: its first second,
// then more as the server asks), and uncorks; a short tone therefore cannot be broken by a
// busy moment of the machine. The tone is followed by a short silent trail (see kTrailMs);
// when tone and trail have run out, the stream is corked again.
//
// The library runs its own thread. Every call from the program's thread takes the library's
// lock for a few microseconds; nothing here waits on the server. When the server goes away
// the device says so through the link handler and tries again once a second; when it is
// back, the streams are made again for the tones the voices hold, so the next "Play" sounds.
// Streams name no output device: the server moves them when the practitioner chooses another
// output or plugs in headphones.
#pragma once

#include "AudioDevice.h"
#include "ToneFile.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;

namespace platform {

class PulseAudioDevice : public AudioDevice
{
public:
    // What the server holds ahead of the sink: enough to bridge a busy moment, little enough
    // that a tone starts within a few milliseconds of its call.
    static constexpr int kTargetQueueMs = 20;
    // The silence that follows every tone. PipeWire's PulseAudio service takes a stream's
    // samples only in whole cycles of its graph: when less than a cycle is queued it plays
    // silence, reports the stream as run dry and keeps what was queued for later. A tone's
    // last samples would wait there, unheard, until the stream is uncorked for the next
    // tone, and sound just before it. With the trail behind it the tone's end always lies
    // within a whole cycle, and what is left over is silence that the next tone's flush
    // drops. Longer than a cycle of any graph that serves a stream asking kTargetQueueMs
    // (PipeWire gives such a stream cycles of at most half that), short enough that a stream
    // does not run on for long after its tone.
    static constexpr int kTrailMs = 50;
    // How much of a tone is handed over at once before the server asks for more.
    static constexpr int kFirstWriteSeconds = 1;
    // Between two tries to reach a server that went away.
    static constexpr int kRetryMs = 1000;

    enum class Link { Connecting, Ready, Lost };

    // Starts the library's thread and the first connection; returns at once. linkChanged is
    // called on the library's thread whenever CurrentLink() changes, with the library's lock
    // held: it must not call into the device, only pass the news on to the program's thread.
    explicit PulseAudioDevice(std::function<void()> linkChanged = {});
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
    // Whether the voice is sounding now: uncorked with a tone that has not run out.
    bool Sounding(int voice) const;

private:
    struct Voice
    {
        PulseAudioDevice *device = nullptr;
        std::shared_ptr<const DecodedTone> tone;    // what the voice has open
        std::shared_ptr<const DecodedTone> playing; // what its stream is fed from
        std::size_t fedSamples = 0;
        std::chrono::steady_clock::time_point started;
        pa_stream *stream = nullptr;
        int streamRate = 0;
        int streamChannels = 0;
        bool streamReady = false;
        bool playPending = false; // "Play" came before the stream was ready
        bool uncorked = false;
        bool holdsData = false;           // written to since the stream was last emptied
        const char *streamName = nullptr; // what the server shows of it
        // Below this much queued the server waits before it plays (it says at the start).
        std::size_t prebufBytes = static_cast<std::size_t>(-1);
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
    void Start(Voice &voice);
    void StartPlaying(Voice &voice);
    void Feed(Voice &voice, std::size_t bytes);
    void Silence(Voice &voice);
    bool Valid(int voice) const;

    static void OnContextState(pa_context *context, void *user);
    static void OnStreamState(pa_stream *stream, void *user);
    static void OnStreamWrite(pa_stream *stream, std::size_t bytes, void *user);
    static void OnStreamUnderflow(pa_stream *stream, void *user);
    static void OnRetry(pa_mainloop_api *api, pa_time_event *event, const struct timeval *,
                        void *user);

    std::function<void()> linkChanged_;
    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_time_event *retry_ = nullptr;
    Link link_ = Link::Connecting;
    bool everReady_ = false;
    std::vector<std::unique_ptr<Voice>> voices_;
    VoiceNumbers numbers_;
    // A stream of the most common kind (44.1 kHz stereo), made ready before any voice asks,
    // so that the first tone of a voice does not wait for a stream to be made.
    Voice spare_;
    ToneCache cache_;
};

} // namespace platform
