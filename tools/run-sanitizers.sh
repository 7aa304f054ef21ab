#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and UndefinedBehavior-
# Sanitizer (build-asan/) and with ThreadSanitizer (build-tsan/), and runs the
# whole CTest suite headless in each. Any report fails the run.
#   tools/run-sanitizers.sh            both
#   tools/run-sanitizers.sh address    one of them (address or thread)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-packages.sh" mosquitto openssl chromium poppler-utils dbus-daemon postgresql python3-aiosmtpd

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)

for kind in "${kinds[@]}"; do
    case "$kind" in
        address) folder="$root/build-asan" ;;
        thread) folder="$root/build-tsan" ;;
        *) echo "unknown sanitizer: $kind (address or thread)" >&2; exit 2 ;;
    esac
    echo "=== $kind sanitizer: $folder"
    # The benchmarks are left out: the suite does not need them. -O1 with line
    # tables only (-g1) builds in half the time of -O2 -g, and a report still
    # names the file and line of every frame.
    cmake -S "$root" -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
        -DCALORIVISTA_SANITIZER="$kind"
    cmake --build "$folder" -j "$(nproc)"
    (
        cd "$folder"
        export QT_QPA_PLATFORM=offscreen
        export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1"
        export LSAN_OPTIONS="suppressions=$root/tools/sanitizers/lsan.supp:print_suppressions=0"
        export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
        # die_after_fork=0: QProcess forks this multi-threaded process to start
        # helpers (the program itself, a process that holds the line); the child
        # only execs, which ThreadSanitizer would otherwise refuse.
        # ignore_noninstrumented_modules=1: Qt is not built with ThreadSanitizer,
        # so its own loads and stores are never seen; only the C library calls
        # it makes (malloc, memmove) were, and those between its thread pool's
        # threads (a large window's image conversion, the threads' names) look
        # unordered because Qt hands work over through futexes. The program's
        # own accesses stay checked.
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:ignore_noninstrumented_modules=1:suppressions=$root/tools/sanitizers/tsan.supp:print_suppressions=0"
        ctest --output-on-failure
    )
done
