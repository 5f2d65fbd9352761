#include "WaveCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace platform {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// The fewest frames a tone may hold. SDL2_mixer 2.8 converted up to 3 frames of 3 to 8
// channels, or at 48 kHz and more, to nothing; 16 leaves room.
constexpr std::uint64_t kFewestFrames = 16;

std::uint16_t Le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Where the bytes come from: a file read piece by piece, or memory. Both answer how many of
// the asked bytes there were.
class Source
{
public:
    virtual ~Source() = default;
    virtual std::uint64_t Size() const = 0;
    virtual std::size_t Read(std::uint64_t offset, unsigned char *into, std::size_t count) = 0;
};

class MemorySource : public Source
{
public:
    MemorySource(const void *bytes, std::size_t size)
        : bytes_(static_cast<const unsigned char *>(bytes)), size_(bytes ? size : 0)
    {}
    std::uint64_t Size() const override { return size_; }
    std::size_t Read(std::uint64_t offset, unsigned char *into, std::size_t count) override
    {
        if (offset >= size_)
            return 0;
        const std::size_t n = std::min<std::uint64_t>(count, size_ - offset);
        std::memcpy(into, bytes_ + offset, n);
        return n;
    }

private:
    const unsigned char *bytes_;
    std::size_t size_;
};

class FileSource : public Source
{
public:
    explicit FileSource(std::FILE *file) : file_(file)
    {
        if (std::fseek(file_, 0, SEEK_END) == 0) {
            const long end = std::ftell(file_);
            size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }
    std::uint64_t Size() const override { return size_; }
    std::size_t Read(std::uint64_t offset, unsigned char *into, std::size_t count) override
    {
        if (offset >= size_ || std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
            return 0;
        return std::fread(into, 1, count, file_);
    }

private:
    std::FILE *file_;
    std::uint64_t size_ = 0;
};

struct Format
{
    std::uint16_t tag = 0; // 0: no format chunk seen
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;

    bool Uncompressed() const { return tag == kFormatPcm || tag == kFormatFloat; }

    // The smallest number of bytes that give any sound: one sample of every channel, or
    // for a compressed format one whole block, the unit its decoder works in.
    std::uint64_t SmallestBytes() const
    {
        const std::uint64_t bytes =
            Uncompressed() ? std::uint64_t(channels) * ((bits + 7u) / 8u) : blockAlign;
        return std::max<std::uint64_t>(bytes, 1);
    }

    // How many frames the bytes hold at most (a compressed format stores at least its bits
    // per sample for each); 0 when the format does not tell.
    std::uint64_t MostFrames(std::uint64_t bytes) const
    {
        if (Uncompressed())
            return bytes / SmallestBytes();
        if (bits == 0 || channels == 0)
            return 0;
        return bytes * 8 / (std::uint64_t(bits) * channels);
    }
};

// Where the chunks of a wave file start: after its RIFF header, or after the form type alone,
// "WAVE", which the library reads as a wave file with its RIFF header left out. 0 when the
// source does not start as a wave file does.
std::uint64_t FirstChunk(Source &source)
{
    unsigned char head[12];
    const std::size_t headBytes = source.Read(0, head, sizeof head);
    if (headBytes == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
        std::memcmp(head + 8, "WAVE", 4) == 0)
        return sizeof head;
    if (headBytes >= 4 && std::memcmp(head, "WAVE", 4) == 0)
        return 4;
    return 0;
}

// Reads a format chunk's payload; one too short to say anything leaves the format as it was.
void ReadFormat(Source &source, std::uint64_t payload, std::uint32_t declared, Format &format)
{
    unsigned char fmt[26] = {};
    const std::size_t got = source.Read(payload, fmt, std::min<std::size_t>(sizeof fmt, declared));
    if (got < 16)
        return;
    format.tag = Le16(fmt);
    format.channels = Le16(fmt + 2);
    format.rate = Le32(fmt + 4);
    format.blockAlign = Le16(fmt + 12);
    format.bits = Le16(fmt + 14);
    // The extensible format names the real one at the start of its sub-format.
    if (format.tag == kFormatExtensible && got >= 26)
        format.tag = Le16(fmt + 24);
}

// What is wrong with the sound of the first data chunk after the format, of which the file
// really holds `held` bytes; empty when nothing is.
std::string DataProblem(const Format &format, std::uint64_t held)
{
    if (held == 0)
        return "the file holds no sound: its data chunk is empty";
    if (held < format.SmallestBytes())
        return "the file holds no sound: its data chunk is shorter than one sample";
    // A compressed format that gives no bits per sample is not one the library decodes; it
    // says so itself.
    if (!format.Uncompressed() && (format.bits == 0 || format.channels == 0))
        return {};
    // Converted to the output's rate and channels, a few frames can come to none.
    const std::uint64_t frames = format.MostFrames(held);
    if (frames * 1000 < format.rate)
        return "the file holds less than a millisecond of sound, too short for a tone";
    if (frames < kFewestFrames)
        return "the file holds fewer than 16 samples of sound, too few for a tone";
    return {};
}

std::string Check(Source &source)
{
    std::uint64_t offset = FirstChunk(source);
    if (offset == 0)
        return "not a wave file the program can play: it does not start as a wave file does";
    Format format;
    const std::uint64_t size = source.Size();
    unsigned char chunk[8];
    // Every step moves on by at least the 8 bytes of a chunk's header, so this ends.
    while (source.Read(offset, chunk, sizeof chunk) == sizeof chunk) {
        const std::uint64_t payload = offset + sizeof chunk;
        const std::uint32_t declared = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            ReadFormat(source, payload, declared, format);
        } else if (format.tag != 0 && std::memcmp(chunk, "data", 4) == 0) {
            // The library plays the first data chunk after the format, and only what the
            // file really holds.
            return DataProblem(format, std::min<std::uint64_t>(declared, size - payload));
        }
        offset = payload + declared + (declared & 1u);
    }
    return {};
}

} // namespace

std::string WaveFileProblem(const std::string &path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"),
                                                                &std::fclose);
    if (!file)
        return {};
    FileSource source(file.get());
    return Check(source);
}

std::string WaveBytesProblem(const void *bytes, std::size_t size)
{
    MemorySource source(bytes, size);
    return Check(source);
}

} // namespace platform
