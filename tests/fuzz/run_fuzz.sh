#!/usr/bin/env bash
# Builds the fuzz targets of the picture and tone loaders (with clang, the whole program
# instrumented by AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of its
# own), replays every input kept in tests/fuzz/crashes/, then fuzzes each target for a bounded
# time. Exits 0 when nothing crashed, hung or ran out of memory; 77 when clang's fuzzer
# runtime is not installed.
#
#   TARROWIN_FUZZ_BUILD_DIR  build folder (default: build-fuzz beside the sources)
#   TARROWIN_FUZZ_SECONDS    fuzzing time per target (default: 20)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${TARROWIN_FUZZ_BUILD_DIR:-$repo/build-fuzz}
seconds=${TARROWIN_FUZZ_SECONDS:-20}
here=$repo/tests/fuzz

if ! command -v clang++ >/dev/null; then
    echo "run_fuzz: no clang++; skipped"
    exit 77
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" 2>"$probe/log"; then
    cat "$probe/log"
    echo "run_fuzz: clang's fuzzer runtime is missing (libclang-rt-dev); skipped"
    exit 77
fi

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
flags+=" -fno-omit-frame-pointer"
cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$flags" -DTARROWIN_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target fuzz_picture fuzz_tone -j"$(nproc)"

# The sanitizers stop at the first fault. The toolkit keeps caches to the end of the process,
# which are not leaks. A wave header may claim up to 4 GB of samples, and the decoder reserves
# what the header claims before it reads what is there: on an ordinary machine that is address
# space never touched (a few MB resident), but under AddressSanitizer every such reservation
# costs a second or more of bookkeeping. Allocations above 1 GB therefore fail here, as they
# would on a machine without the memory, and the program must take that failure in its stride.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=1024
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy

# The starting inputs are written afresh each run from the corpus script.
seeds=$build/seeds
rm -rf "$seeds"
python3 "$repo/tests/data/make_corpus.py" --seeds "$seeds"

status=0
for target in picture tone; do
    exe=$build/fuzz_$target
    mapfile -t kept < <(find "$here/crashes" -maxdepth 1 -type f -name "$target-*" | sort)
    if [ ${#kept[@]} -gt 0 ]; then
        echo "== fuzz_$target: replaying ${#kept[@]} kept input(s)"
        if ! "$exe" -runs=1 "${kept[@]}" >"$build/replay-$target.log" 2>&1; then
            tail -40 "$build/replay-$target.log"
            echo "fuzz_$target: a kept input fails again"
            status=1
        fi
    fi

    case $target in
    picture) assets=$repo/Pictures ;;
    tone) assets=$repo/Tones ;;
    esac
    found=$build/corpus/$target
    artifacts=$build/artifacts
    mkdir -p "$found" "$artifacts"
    echo "== fuzz_$target: fuzzing for $seconds s"
    log=$build/fuzz-$target.log
    if "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$found" "$seeds/$target" "$assets" \
        >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        echo "fuzz_$target: ${runs:-?} inputs in $seconds s (${rate:-?} a second), no crash"
    else
        tail -60 "$log"
        echo "fuzz_$target: FAILED; the input is in $artifacts/ (keep it as" \
            "tests/fuzz/crashes/$target-<name> once the program is fixed)"
        status=1
    fi
done
exit $status
