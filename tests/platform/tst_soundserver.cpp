// The sound output against a real sound server that each test starts and stops itself
// (tests/harness/sound_server.sh): a private PulseAudio daemon, or PipeWire with WirePlumber
// and its PulseAudio service, as TARROWIN_SOUND_SERVER says (pulseaudio unless set), whose
// only output is a null sink, whose monitor the test records. The server's restart, its
// absence at the start and a change of output are made by the test and watched through the
// status the output tells.
//
// Skipped where the server is not installed (scripts/setup.sh with TARROWIN_TEST_TOOLS=1
// installs both).
#include "platform/Platform.h"
#include "platform/TickMoment.h"
#include "platform/sound/PulseAudioDevice.h"
#include "platform/sound/SoundOutput.h"
#include "support/TestSupport.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <sndfile.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

constexpr int kKeepRunningMs = platform::PulseAudioDevice::kKeepRunningMs;

namespace {

// Runs a command of the sound server's tools and gives its exit status (-1: it did not end
// normally within 20 s), its standard output in `output` if asked for, else nowhere.
//
// Started with posix_spawn rather than a fork: once the sound library's thread runs, a fork
// would leave ThreadSanitizer unable to judge the rest of the test ("starting new threads
// after multi-threaded fork is not supported"), and a race in the sound output's callbacks
// would pass unseen.
int Run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    std::vector<std::string> words{program.toStdString()};
    for (const QString &argument : arguments)
        words.push_back(argument.toStdString());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (output && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (output) {
        ::close(pipeFds[1]);
        std::string text;
        char block[4096];
        for (ssize_t n; spawned == 0 && (n = ::read(pipeFds[0], block, sizeof block)) > 0;)
            text.append(block, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        *output = QString::fromStdString(text);
    }
    if (spawned != 0)
        return -1;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using Clock = std::chrono::steady_clock;

// Writes a 16-bit stereo sine tone: the left file at 440 Hz, the right at 660 Hz.
void WriteTone(const QString &path, double seconds, double frequency, int rate = 44100,
               int channels = 2)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    QVERIFY(file);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<short> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double value = 12000 * std::sin(2 * M_PI * frequency * static_cast<double>(i) / rate);
        for (int c = 0; c < channels; ++c)
            samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<short>(value);
    }
    QCOMPARE(sf_writef_short(file, samples.data(), static_cast<sf_count_t>(frames)),
             static_cast<sf_count_t>(frames));
    sf_close(file);
}

// Records a sink's monitor on a thread of its own and stamps when sound was last heard.
class Recorder
{
public:
    explicit Recorder(const std::string &monitor)
    {
        const pa_sample_spec format{PA_SAMPLE_S16LE, 44100, 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = 441 * 4; // 10 ms a read
        int error = 0;
        simple_ = pa_simple_new(nullptr, "tst_soundserver", PA_STREAM_RECORD, monitor.c_str(),
                                "monitor", &format, nullptr, &attr, &error);
        if (!simple_)
            return;
        thread_ = std::thread([this] { Run(); });
    }
    ~Recorder()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (simple_)
            pa_simple_free(simple_);
    }
    bool Recording() const { return simple_ != nullptr; }
    // Milliseconds of sound heard since the last call.
    int TakeSoundMs() { return soundMs_.exchange(0); }
    // When sound was first heard after the last Arm().
    void Arm()
    {
        std::lock_guard lock(mutex_);
        firstSound_.reset();
    }
    std::optional<Clock::time_point> FirstSound()
    {
        std::lock_guard lock(mutex_);
        return firstSound_;
    }

private:
    void Run()
    {
        std::vector<short> block(441 * 2);
        while (!stop_) {
            int error = 0;
            if (pa_simple_read(simple_, block.data(), block.size() * sizeof(short), &error) < 0)
                return;
            int loud = 0;
            for (short s : block)
                loud = std::max(loud, std::abs(static_cast<int>(s)));
            if (loud > 1000) {
                soundMs_ += 10;
                std::lock_guard lock(mutex_);
                if (!firstSound_)
                    firstSound_ = Clock::now();
            }
        }
    }
    pa_simple *simple_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> soundMs_{0};
    std::mutex mutex_;
    std::optional<Clock::time_point> firstSound_;
};

} // namespace

class TstSoundServer : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString left_, right_, longTone_, mono_;
    std::vector<std::string> told_;

    // Which server, and the harness's command that starts, kills and stops it.
    static QString Server()
    {
        const QString kind = qEnvironmentVariable("TARROWIN_SOUND_SERVER");
        return kind.isEmpty() ? QStringLiteral("pulseaudio") : kind;
    }
    static int Session(const QStringList &arguments)
    {
        return Run(QStringLiteral(TARROWIN_HARNESS "/sound_server.sh"),
                   QStringList{Server()} + arguments);
    }
    bool StartServer() { return Session({"start"}) == 0; }
    void StopServer() { Session({"stop"}); }
    // Events are handled while waiting: the output's news reaches it through the event loop.
    template <typename Condition>
    static bool Soon(Condition condition, std::chrono::milliseconds within)
    {
        return QTest::qWaitFor(condition, static_cast<int>(within.count()));
    }
    // The test's own server started, and a device that has reached it; null when either
    // failed.
    std::unique_ptr<platform::PulseAudioDevice> DeviceOnServer(int keepRunningMs = kKeepRunningMs)
    {
        if (!StartServer())
            return nullptr;
        auto device = std::make_unique<platform::PulseAudioDevice>(nullptr, keepRunningMs);
        if (!Reached(*device))
            return nullptr;
        return device;
    }
    static bool Reached(const platform::PulseAudioDevice &device)
    {
        const auto until = Clock::now() + 5s;
        while (device.CurrentLink() != platform::PulseAudioDevice::Link::Ready) {
            if (Clock::now() > until)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // Sound at the monitor within the time, after a play.
    static bool Heard(Recorder &recorder, std::chrono::milliseconds within)
    {
        const auto until = Clock::now() + within;
        while (Clock::now() < until) {
            QCoreApplication::processEvents();
            if (recorder.FirstSound())
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QStringList programs = Server() == "pipewire"
                                         ? QStringList{"pipewire", "wireplumber", "pipewire-pulse"}
                                         : QStringList{"pulseaudio"};
        for (const QString &program : programs + QStringList{"pactl"}) {
            if (QStandardPaths::findExecutable(program).isEmpty())
                QSKIP(qPrintable(program + " is not installed: no sound server can be started"));
        }
        QVERIFY(dir_.isValid());
        // A server of the test's own, whatever the calling environment names: in the folder
        // the harness made for it (which stops what is left there when the test ends, however
        // it ends), else in one of its own.
        QString runtime = qEnvironmentVariable("TARROWIN_SOUND_RUNTIME");
        if (runtime.isEmpty()) {
            runtime = dir_.filePath("runtime");
            QVERIFY(QDir().mkpath(runtime));
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        qputenv("HOME", dir_.path().toLocal8Bit());
        for (const char *name :
             {"PULSE_SERVER", "PULSE_SINK", "PULSE_COOKIE", "PULSE_RUNTIME_PATH"})
            qunsetenv(name);
        left_ = dir_.filePath("tone_l.wav");
        right_ = dir_.filePath("tone_r.wav");
        longTone_ = dir_.filePath("long.wav");
        mono_ = dir_.filePath("mono.wav");
        WriteTone(left_, 0.1, 440);
        WriteTone(right_, 0.1, 660);
        WriteTone(longTone_, 3.0, 440);
        WriteTone(mono_, 0.1, 500, 22050, 1);
        platform::SetSoundStatusHandler(
            [this](const std::string &problem) { told_.push_back(problem); });
    }
    void init()
    {
        testsupport::FreshSeams();
        told_.clear();
    }
    void cleanup() { StopServer(); }
    void cleanupTestCase() { StopServer(); }

    // The first tone of a voice sounds at once, also one asked for by a tick long past; the
    // streams run while tones are in use and are corked once they no longer are; a tone of
    // another rate and channel count plays on the same voice.
    void toneReachesTheSinkAtOnce()
    {
        auto device = DeviceOnServer(1500);
        QVERIFY(device);
        Recorder recorder("null.monitor");
        QVERIFY(recorder.Recording());
        const int left = device->AllocateVoice();
        const int right = device->AllocateVoice();
        QVERIFY(device->Open(left, left_.toStdString()).ok);
        QVERIFY(device->Open(right, right_.toStdString()).ok);
        std::this_thread::sleep_for(300ms); // the recorder's own start
        recorder.TakeSoundMs();
        for (int voice : {left, right, left}) {
            recorder.Arm();
            const auto asked = Clock::now();
            if (voice == right) {
                // Asked for by a tick so long ago that its place in the stream is gone: the
                // tone sounds whole, as soon as it can.
                const platform::detail::TickScope tick(this, asked - 500ms, false);
                device->Play(voice);
            } else {
                device->Play(voice);
            }
            QVERIFY(device->Sounding(voice));
            QVERIFY2(Heard(recorder, 2000ms), "the tone never reached the sink");
            const auto onset = *recorder.FirstSound() - asked;
            // At once: not after the next write of a stream that waits for its buffer to fill
            // (a second and more). The margin holds on a loaded machine and under a
            // sanitizer; the onset itself is measured by the bench.
            QVERIFY2(onset < 300ms, qPrintable(QString::number(
                                        std::chrono::duration<double, std::milli>(onset).count())));
            QVERIFY(Soon([&] { return !device->Sounding(voice); }, 1000ms));
            std::this_thread::sleep_for(100ms);
        }
        // Three tones of 100 ms each, and nothing between them.
        const int heard = recorder.TakeSoundMs();
        QVERIFY2(heard >= 250 && heard <= 400, qPrintable(QString::number(heard)));
        // The streams run while tones are in use, and are corked once they have not been for
        // the time the device keeps them running.
        QString inputs;
        QCOMPARE(Run("pactl", {"list", "sink-inputs"}, &inputs), 0);
        QVERIFY2(inputs.count("Corked: no") >= 2, qPrintable(inputs));
        QVERIFY(Soon([&] { return !device->Running(); }, 3000ms));
        QCOMPARE(Run("pactl", {"list", "sink-inputs"}, &inputs), 0);
        QVERIFY2(inputs.count("Corked: yes") >= 2 && !inputs.contains("Corked: no"),
                 qPrintable(inputs));

        recorder.Arm();
        QVERIFY(device->Open(left, mono_.toStdString()).ok);
        device->Play(left);
        QVERIFY2(Heard(recorder, 3000ms), "a mono 22.05 kHz tone was not heard");
    }

    // A file longer than the first write is fed to its end; "stop" silences it at once.
    void longToneIsFedToItsEndAndStops()
    {
        auto device = DeviceOnServer();
        QVERIFY(device);
        Recorder recorder("null.monitor");
        const int voice = device->AllocateVoice();
        QVERIFY(device->Open(voice, longTone_.toStdString()).ok);
        std::this_thread::sleep_for(300ms);
        recorder.TakeSoundMs();
        device->Play(voice);
        std::this_thread::sleep_for(3300ms);
        const int heard = recorder.TakeSoundMs();
        QVERIFY2(heard >= 2800 && heard <= 3200, qPrintable(QString::number(heard)));
        QVERIFY(!device->Sounding(voice));

        device->Play(voice);
        std::this_thread::sleep_for(300ms);
        device->Stop(voice);
        // Silent within the lead that every command keeps.
        QVERIFY(Soon([&] { return !device->Sounding(voice); },
                     std::chrono::milliseconds(2 * platform::PulseAudioDevice::kLeadMs)));
        std::this_thread::sleep_for(100ms);
        recorder.TakeSoundMs();
        std::this_thread::sleep_for(500ms);
        QCOMPARE(recorder.TakeSoundMs(), 0);
    }

    // The server goes away in the middle of a session and comes back: the practitioner is
    // told once each way, and the voices sound again on the files they had. Under PipeWire
    // either its daemon goes (WirePlumber with it, its PulseAudio service refusing clients
    // until all are started again) or the PulseAudio service alone.
    void serverRestartBringsTheTonesBack_data()
    {
        QTest::addColumn<QString>("part");
        QTest::newRow("server") << "server";
        if (Server() == "pipewire")
            QTest::newRow("service") << "service";
    }
    void serverRestartBringsTheTonesBack()
    {
        QFETCH(QString, part);
        QVERIFY(StartServer());
        platform::SoundOutput output;
        const int left = output.AllocateVoice();
        const int right = output.AllocateVoice();
        QVERIFY(output.Open(left, left_.toStdString()).ok);
        QVERIFY(output.Open(right, right_.toStdString()).ok);
        QVERIFY(Soon([&] { return output.Route() == "server"; }, 5000ms));
        QVERIFY(told_.empty());

        // What the output promises: the loss is told at once, and sound is back within two of
        // its tries once the server answers again; each with a second to spare for a loaded
        // machine or a sanitized build. How soon exactly is measured by the bench.
        const auto oneTry = std::chrono::milliseconds(platform::PulseAudioDevice::kRetryMs);
        QCOMPARE(Session({"kill", part}), 0);
        const auto stopped = Clock::now();
        QVERIFY(Soon([&] { return !output.Problem().empty(); }, 10 * oneTry));
        QVERIFY2(Clock::now() - stopped <= oneTry + 1s, "the loss was told late");
        QCOMPARE(told_.size(), std::size_t(1));
        QVERIFY(told_[0].find("No tones can be heard") == 0);
        // Plays while there is no server do nothing and harm nothing.
        output.Play(left);
        output.Stop(right);
        QTest::qWait(1500); // more than one try to reach it
        QCOMPARE(told_.size(), std::size_t(1));

        QVERIFY(StartServer());
        const auto answered = Clock::now();
        QVERIFY(Soon([&] { return output.Problem().empty(); }, 10 * oneTry));
        QVERIFY2(Clock::now() - answered <= 2 * oneTry + 1s, "sound came back late");
        QCOMPARE(told_.size(), std::size_t(2));
        QCOMPARE(told_[1], std::string());
        // The next turns sound, on both sides, with no reopening by the caller.
        Recorder recorder("null.monitor");
        std::this_thread::sleep_for(300ms);
        for (int voice : {right, left}) {
            recorder.Arm();
            output.Stop(voice == left ? right : left);
            output.Play(voice);
            QVERIFY2(Heard(recorder, 3000ms), "no tone after the server came back");
            std::this_thread::sleep_for(200ms);
        }
    }

    // No server at the start: a silent session, told once; the first server to answer brings
    // the tones.
    void noServerAtStartThenOne()
    {
        platform::SoundOutput output;
        const int voice = output.AllocateVoice();
        // Files are checked and held even without a server.
        QVERIFY(output.Open(voice, left_.toStdString()).ok);
        QVERIFY(!output.Open(voice, dir_.filePath("none.wav").toStdString()).ok);
        QVERIFY(output.Open(voice, left_.toStdString()).ok);
        QVERIFY(Soon([&] { return !output.Problem().empty(); }, 2000ms));
        QCOMPARE(output.Route(), std::string("none"));
        output.Play(voice);
        QTest::qWait(2500);
        QCOMPARE(told_.size(), std::size_t(1));

        QVERIFY(StartServer());
        QVERIFY(Soon([&] { return output.Problem().empty(); }, 3000ms));
        QCOMPARE(output.Route(), std::string("server"));
        Recorder recorder("null.monitor");
        std::this_thread::sleep_for(300ms);
        recorder.Arm();
        output.Play(voice);
        QVERIFY2(Heard(recorder, 3000ms), "no tone once a server answered");
    }

    // Another output made the default in the middle of a session (headphones plugged in):
    // the next tones sound there.
    void tonesFollowTheDefaultOutput()
    {
        auto device = DeviceOnServer();
        QVERIFY(device);
        const int voice = device->AllocateVoice();
        QVERIFY(device->Open(voice, left_.toStdString()).ok);
        device->Play(voice);
        QVERIFY(Soon([&] { return !device->Sounding(voice); }, 1000ms));

        QCOMPARE(Run("pactl", {"load-module", "module-null-sink", "sink_name=phones", "rate=44100",
                               "channels=2", "format=s16le", "norewinds=1"}),
                 0);
        QCOMPARE(Run("pactl", {"set-default-sink", "phones"}), 0);
        Recorder phones("phones.monitor");
        Recorder speakers("null.monitor");
        QVERIFY(phones.Recording() && speakers.Recording());
        std::this_thread::sleep_for(300ms);
        phones.Arm();
        speakers.Arm();
        device->Play(voice);
        QVERIFY2(Heard(phones, 3000ms), "the tone did not follow the new default output");
        QVERIFY(!speakers.FirstSound());
    }
};

QTEST_GUILESS_MAIN(TstSoundServer)
#include "tst_soundserver.moc"
