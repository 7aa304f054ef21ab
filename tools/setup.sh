#!/usr/bin/env bash
# Installs what the build needs (Debian packages) when it is missing, then
# configures and builds into build/. Called by run-demo.sh and run-tests.sh.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-packages.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$(nproc)"
