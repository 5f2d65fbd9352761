// A look at a tone file's wave header before any sound library decodes it, for the faults
// that a library gets wrong instead of refusing.
//
// SDL2_mixer 2.8 (Debian 13) frees a tone twice when converting it to the output's format
// (44.1 kHz stereo) leaves no sample at all: the decoder shrinks the converted buffer to 0
// bytes, which frees it, and keeps the old pointer, which the chunk's release frees again.
// That is so for a data chunk with no whole sample frame, and for a few frames that come to
// less than one: a single frame at 48 kHz, two at 96 kHz, one of 3 channels at any rate. The
// program would end at once when such a file is chosen, so every sound device hands a file
// to its library only when this finds nothing wrong: a data chunk holding at least one
// millisecond of sound and at least 16 frames, which no conversion brings down to nothing,
// and which is still far too short to be heard as a tone.
//
// Nothing but a wave file is handed on: the library would take other kinds of file to other
// decoders, whose output goes through the same conversion. Other damage to a wave file's
// header is left to the library, which refuses such a file with its own reasons.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Why the file's sound cannot be played, in plain words ("the file holds no sound: its data
// chunk is empty"); empty when nothing is found wrong. Reads only the headers of the file's
// chunks, not its samples. A file that cannot be opened passes: the caller's own open tells
// why.
std::string WaveFileProblem(const std::string &path);

// The same for a file's bytes already in memory.
std::string WaveBytesProblem(const void *bytes, std::size_t size);

} // namespace platform
