#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for the
# given number of seconds (default 30), starting from its seed corpus in
# tests/fuzz/corpus/. A crash, a sanitizer report, an input that takes longer
# than a second or more than 2 GiB fails the run; the input is kept in
# build-fuzz/artifacts/.
#   tools/run-fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-packages.sh" clang libclang-rt-14-dev

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_frames fuzz_journal fuzz_datafile)

folder="$root/build-fuzz"
cmake -S "$root" -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DCMAKE_CXX_COMPILER=clang++ -DCALORIVISTA_FUZZ=ON
cmake --build "$folder" -j "$(nproc)" --target "${targets[@]}"

mkdir -p "$folder/artifacts"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$root/tools/sanitizers/lsan.supp:print_suppressions=0"
for target in "${targets[@]}"; do
    seeds="$root/tests/fuzz/corpus/${target#fuzz_}"
    # New inputs go to a corpus of this run; the seeds in the repository stay as they are.
    found=$(mktemp -d)
    trap 'rm -rf "$found"' EXIT
    echo "=== $target: $seconds s from $seeds"
    "$folder/tests/fuzz/$target" "$found" "$seeds" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
        -artifact_prefix="$folder/artifacts/$target-" -print_final_stats=1
    rm -rf "$found"
done
