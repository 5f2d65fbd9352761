// Tone files decoded into samples, and kept by file stamp.
//
// A tone is played over and over during a session and each one reopens its file, so an open
// of a file whose size, modification time and identity are unchanged costs one stat and no
// decode. A file that changed is decoded again. A file the decoder refused is remembered too,
// so that a large file of another kind is not read through again at every turn.
//
// Decoding takes any wave file the sound file library reads (8, 16, 24 and 32-bit integer,
// float, any rate and channel count) into interleaved 16-bit samples at the file's own rate
// and channels: the sound server resamples and remixes to its output.
#pragma once

#include "AudioDevice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Which side a tone sounds on: a stereo tone with one channel silent throughout is that
// side's; anything else sounds on both.
enum class ToneSide { Both, Left, Right };

struct DecodedTone
{
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples; // interleaved, frames x channels
    ToneSide side = ToneSide::Both;    // found once, as the file is decoded

    std::size_t Frames() const
    {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
};

// The identity of a file on disk as far as a decoded copy of it is concerned.
struct FileStamp
{
    std::uintmax_t size = 0;
    std::int64_t modifiedNs = 0;
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    bool operator==(const FileStamp &) const = default;
};

// Looks at the file without reading it: its stamp when it is an ordinary, non-empty file,
// or why it cannot be a tone (empty when it can).
std::string StampOf(const std::string &path, FileStamp &stamp);

// Longest tone kept in memory: a tone is short, and a file of hours would hold hundreds of
// megabytes for nothing. Longer files are refused by name.
constexpr int kLongestToneSeconds = 600;

// Decodes a whole file. On failure returns nothing and says why in plain words.
std::shared_ptr<const DecodedTone> DecodeTone(const std::string &path, std::string &problem);
// The same from bytes in memory (the fuzzing reaches the decoder this way).
std::shared_ptr<const DecodedTone> DecodeToneBytes(const unsigned char *data, std::size_t size,
                                                   std::string &problem);

class ToneCache
{
public:
    // The decoded tone of the file, from the cache when the file is unchanged.
    std::shared_ptr<const DecodedTone> Get(const std::string &path, AudioResult &result);
    // How many times a file was handed to the decoder, whether it was accepted or not.
    int DecodeCount() const { return decodeCount_; }

private:
    struct Entry
    {
        FileStamp stamp;
        std::shared_ptr<const DecodedTone> tone; // nothing: the decoder refused the file
        std::string problem;
    };
    std::map<std::string, Entry> entries_;
    int decodeCount_ = 0;
};

} // namespace platform
