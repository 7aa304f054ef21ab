#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The publishing tests start a real broker and make their own TLS authority;
# the web page's test loads the page in a headless Chromium; the archive's tests
# start a PostgreSQL of their own.
"$root/tools/install-packages.sh" mosquitto openssl chromium poppler-utils dbus-daemon postgresql python3-aiosmtpd
"$root/tools/setup.sh"
cd "$root/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
