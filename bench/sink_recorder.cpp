// Keeps what the sound server's recorder writes to standard input and when each piece
// arrived, so that a sample of the recording can be placed on CLOCK_MONOTONIC, the clock on
// which the program's events are stamped.
//
//   parec --raw ... | bench_sink_recorder AUDIO STAMPS
//
// AUDIO gets the bytes as read. STAMPS gets one line a read, after a '#' header:
//   <CLOCK_MONOTONIC ns just after the read returned> <bytes read so far, this read included>
// Ends at the end of its input. Exit status: 0 done, 1 bad arguments or a file not written.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

std::int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: parec --raw ... | bench_sink_recorder AUDIO STAMPS\n");
        return 1;
    }
    std::FILE *audio = std::fopen(argv[1], "wb");
    if (!audio) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> stamps;
    stamps.reserve(1 << 18);
    std::vector<char> buffer(1 << 16);
    std::int64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        const std::int64_t at = NowNs();
        total += got;
        stamps.emplace_back(at, total);
        if (std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), audio) !=
            static_cast<std::size_t>(got)) {
            std::perror(argv[1]);
            return 1;
        }
    }
    if (std::fclose(audio) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::FILE *out = std::fopen(argv[2], "w");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    std::fprintf(out, "# read_ns bytes_so_far\n");
    for (const auto &[at, bytes] : stamps)
        std::fprintf(out, "%lld %lld\n", static_cast<long long>(at), static_cast<long long>(bytes));
    return std::fclose(out) == 0 ? 0 : 1;
}
