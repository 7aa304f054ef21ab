#!/usr/bin/env bash
# Installs what is missing, builds, and starts Calorivista attached to the
# simulated instrument: a temporary settings location names the simulator's
# pseudo-terminal as COM1 and a temporary record folder, so pressing
# "OK(Start)" shows readings arriving and writes data files (every 10 s).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/setup.sh"

demo=$(mktemp -d /tmp/calorivista-demo.XXXXXX)
mkdir -p "$demo/config/Calorivista" "$demo/records"

"$root/build/tools/calorivista-sim" --rate 10 --profile sine:900:50:120 --quiet >"$demo/simulator.log" 2>&1 &
simulator=$!
trap 'kill $simulator 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    grep -q '^device: ' "$demo/simulator.log" && break
    sleep 0.1
done
device=$(sed -n 's/^device: //p' "$demo/simulator.log")
[ -n "$device" ] || { echo "the simulator did not start:"; cat "$demo/simulator.log"; exit 1; }

cat >"$demo/config/Calorivista/Calorivista.conf" <<CONF
[General]
BaudRate=115200
PortNumber=1
TimeBetweenSaving=10
SavingPath=$demo/records
MinT=800
MaxT=1000
PortDevice1=$device
PortDevice2=/dev/ttyS1
CONF

echo "Simulated instrument on $device; settings in $demo/config; data files go to $demo/records"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here: the program runs headless (QT_QPA_PLATFORM=offscreen); Ctrl+C ends it."
    export QT_QPA_PLATFORM=offscreen
fi
cd "$demo"
XDG_CONFIG_HOME="$demo/config" "$root/build/app/calorivista"
echo "Data files of the run: $demo/records"
