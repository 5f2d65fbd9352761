// What both fuzz targets do with an input: it goes into a file of a scratch folder of the
// target's own, as a practitioner's chosen file would be.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzinput {

// A new folder under /tmp named after the target; the run ends when it cannot be made.
inline std::string ScratchFolder(const std::string &target)
{
    std::string pattern = "/tmp/" + target + ".XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

// Writes the input to the file, whole; the run ends when it cannot.
inline void WriteInput(const std::string &path, const std::uint8_t *data, std::size_t size)
{
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (!out)
        std::abort();
    const bool written = size == 0 || std::fwrite(data, 1, size, out) == size;
    if (std::fclose(out) != 0 || !written)
        std::abort();
}

} // namespace fuzzinput
