#include "ToneFile.h"

#include <sndfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

std::string StatProblem(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "the file does not exist";
    case EACCES:
        return "the file cannot be reached (no permission)";
    default:
        return std::string("the file cannot be reached (") + std::strerror(error) + ")";
    }
}

// The sound output takes up to 32 channels and rates up to 384 kHz; a header that claims more
// is damaged or is not a tone.
constexpr int kMostChannels = 32;
constexpr int kHighestRate = 384000;

// Values beyond full scale, which floating-point files hold now and then, are clipped rather
// than wrapped round.
std::int16_t ToShort(float value)
{
    if (std::isnan(value))
        return 0;
    const float scaled = std::clamp(value, -1.0f, 1.0f) * 32767.0f;
    return static_cast<std::int16_t>(std::lrint(scaled));
}

std::string TooLong()
{
    return "the tone is longer than " + std::to_string(kLongestToneSeconds / 60) + " minutes";
}

// What the header claims that no tone can be; empty when it could be one.
std::string HeaderProblem(const SF_INFO &info)
{
    if (info.channels < 1 || info.channels > kMostChannels)
        return "the file claims " + std::to_string(info.channels) + " channels";
    if (info.samplerate < 1 || info.samplerate > kHighestRate)
        return "the file claims a rate of " + std::to_string(info.samplerate) + " Hz";
    if (info.frames > static_cast<sf_count_t>(kLongestToneSeconds) * info.samplerate)
        return TooLong();
    return {};
}

// Appends the next block of the file to the samples; returns the frames read (0 at the end).
// Integer files are read as 16-bit samples directly, so a 16-bit file comes out sample for
// sample. Floating-point files are read as floats and scaled here: the library would hand
// their samples over unscaled, a tone at 0.3 becoming silence.
sf_count_t ReadBlock(SNDFILE *file, bool floating, std::size_t channels,
                     std::vector<std::int16_t> &samples, std::vector<float> &floats)
{
    constexpr sf_count_t kBlockFrames = 8192;
    const std::size_t at = samples.size();
    samples.resize(at + static_cast<std::size_t>(kBlockFrames) * channels);
    sf_count_t got = 0;
    if (floating) {
        floats.resize(static_cast<std::size_t>(kBlockFrames) * channels);
        got = sf_readf_float(file, floats.data(), kBlockFrames);
        for (std::size_t i = 0;
             i < static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * channels; ++i)
            samples[at + i] = ToShort(floats[i]);
    } else {
        got = sf_readf_short(file, samples.data() + at, kBlockFrames);
    }
    samples.resize(at + static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * channels);
    return std::max<sf_count_t>(got, 0);
}

// Looked at once, as the file is decoded: a long tone file would otherwise be read through
// again each time a voice opens it.
ToneSide SideOf(const DecodedTone &tone)
{
    if (tone.channels != 2)
        return ToneSide::Both;
    bool left = false;
    bool right = false;
    for (std::size_t i = 0; i + 1 < tone.samples.size() && !(left && right); i += 2) {
        left = left || tone.samples[i] != 0;
        right = right || tone.samples[i + 1] != 0;
    }
    if (left == right)
        return ToneSide::Both;
    return left ? ToneSide::Left : ToneSide::Right;
}

std::shared_ptr<const DecodedTone> ReadAll(SNDFILE *file, const SF_INFO &info, std::string &problem)
{
    problem = HeaderProblem(info);
    if (!problem.empty())
        return nullptr;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool floating = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    std::vector<float> floats;
    auto tone = std::make_shared<DecodedTone>();
    tone->rate = info.samplerate;
    tone->channels = info.channels;
    // The header's length is not trusted for the allocation: a damaged one claims gigabytes.
    // Blocks are read until the data ends, and at most the longest tone is kept.
    const auto longest = static_cast<sf_count_t>(kLongestToneSeconds) * info.samplerate;
    const auto channels = static_cast<std::size_t>(info.channels);
    sf_count_t total = 0;
    while (const sf_count_t got = ReadBlock(file, floating, channels, tone->samples, floats)) {
        total += got;
        if (total > longest) {
            problem = TooLong();
            return nullptr;
        }
    }
    if (tone->samples.empty()) {
        problem = "the file holds no sound";
        return nullptr;
    }
    tone->samples.shrink_to_fit();
    tone->side = SideOf(*tone);
    return tone;
}

std::string Refusal(SNDFILE *file)
{
    return std::string("not a wave file the program can play (") + sf_strerror(file) + ")";
}

// The whole of a file the library has opened (or says why it could not).
std::shared_ptr<const DecodedTone> ReadAndClose(SNDFILE *file, const SF_INFO &info,
                                                std::string &problem)
{
    if (!file) {
        problem = Refusal(nullptr);
        return nullptr;
    }
    auto tone = ReadAll(file, info, problem);
    sf_close(file);
    return tone;
}

struct MemoryFile
{
    const unsigned char *data;
    sf_count_t size;
    sf_count_t at;
};

sf_count_t MemoryLength(void *user)
{
    return static_cast<MemoryFile *>(user)->size;
}

sf_count_t MemorySeek(sf_count_t offset, int whence, void *user)
{
    auto *file = static_cast<MemoryFile *>(user);
    sf_count_t to = offset;
    if (whence == SEEK_CUR)
        to = file->at + offset;
    else if (whence == SEEK_END)
        to = file->size + offset;
    if (to < 0 || to > file->size)
        return -1;
    file->at = to;
    return to;
}

sf_count_t MemoryRead(void *into, sf_count_t count, void *user)
{
    auto *file = static_cast<MemoryFile *>(user);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, file->size - file->at);
    std::memcpy(into, file->data + file->at, static_cast<std::size_t>(n));
    file->at += n;
    return n;
}

sf_count_t MemoryWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t MemoryTell(void *user)
{
    return static_cast<MemoryFile *>(user)->at;
}

} // namespace

std::string StampOf(const std::string &path, FileStamp &stamp)
{
    if (path.empty())
        return "no file was named";
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return StatProblem(errno);
    if (S_ISDIR(info.st_mode))
        return "it is a folder, not a file";
    // A pipe or a device would make the decoder wait for data that may never come.
    if (!S_ISREG(info.st_mode))
        return "it is not an ordinary file";
    if (info.st_size == 0)
        return "the file is empty";
    stamp = {static_cast<std::uintmax_t>(info.st_size),
             static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                 static_cast<std::int64_t>(info.st_mtim.tv_nsec),
             static_cast<std::uintmax_t>(info.st_dev), static_cast<std::uintmax_t>(info.st_ino)};
    return {};
}

std::shared_ptr<const DecodedTone> DecodeTone(const std::string &path, std::string &problem)
{
    if (::access(path.c_str(), R_OK) != 0) {
        problem = errno == EACCES ? "the file cannot be read (no permission)" : StatProblem(errno);
        return nullptr;
    }
    SF_INFO info{};
    return ReadAndClose(sf_open(path.c_str(), SFM_READ, &info), info, problem);
}

std::shared_ptr<const DecodedTone> DecodeToneBytes(const unsigned char *data, std::size_t size,
                                                   std::string &problem)
{
    MemoryFile memory{data, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO info{};
    return ReadAndClose(sf_open_virtual(&io, SFM_READ, &info, &memory), info, problem);
}

std::shared_ptr<const DecodedTone> ToneCache::Get(const std::string &path, AudioResult &result)
{
    FileStamp stamp;
    if (std::string problem = StampOf(path, stamp); !problem.empty()) {
        entries_.erase(path);
        result = {false, std::move(problem)};
        return nullptr;
    }
    if (auto it = entries_.find(path); it != entries_.end() && it->second.stamp == stamp) {
        if (!it->second.tone)
            result = {false, it->second.problem};
        return it->second.tone;
    }
    ++decodeCount_;
    Entry &entry = entries_[path];
    entry.stamp = stamp;
    entry.problem.clear();
    entry.tone = DecodeTone(path, entry.problem);
    if (!entry.tone)
        result = {false, entry.problem};
    return entry.tone;
}

} // namespace platform
