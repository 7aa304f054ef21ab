#!/usr/bin/env bash
# Installs what is missing, builds, and starts the simulated instrument, which
# prints the pseudo-terminal to connect to and every frame it sends (Ctrl+C stops it).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/setup.sh"
exec "$root/build/tools/calorivista-sim" --rate 2 --profile sine:900:50:120 "$@"
