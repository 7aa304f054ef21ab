#!/usr/bin/env bash
# Checks what installing gives (run after run-tests.sh, which builds build/):
# the desktop entry passes desktop-file-validate, `cmake --install` into a
# temporary DESTDIR puts every file where it belongs, and `cpack -G DEB` makes
# a package whose dependencies name Qt. With CI set (a throw-away machine) the
# package is also installed with apt, its commands run, and it is removed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-packages.sh" desktop-file-utils dpkg-dev

desktop-file-validate "$root/res/calorivista.desktop"

stage=$(mktemp -d /tmp/calorivista-install.XXXXXX)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$root/build" --prefix /usr >/dev/null
expected=(
    usr/bin/calorivista
    usr/bin/calorivista-sim
    usr/bin/calorivista-export
    usr/bin/calorivista-collect
    usr/bin/calorivista-view
    usr/bin/calorivista-verify
    usr/share/applications/calorivista.desktop
    usr/share/icons/hicolor/16x16/apps/calorivista.png
    usr/share/icons/hicolor/32x32/apps/calorivista.png
    usr/share/doc/calorivista/README.md
    usr/share/calorivista/grafana/calorivista.json
    usr/share/calorivista/grafana/reader-role.sql
)
for file in "${expected[@]}"; do
    [ -f "$stage/$file" ] || { echo "check-install: $file was not installed" >&2; exit 1; }
done
for program in calorivista calorivista-sim calorivista-export calorivista-collect calorivista-view calorivista-verify; do
    [ -x "$stage/usr/bin/$program" ] || { echo "check-install: $program is not executable" >&2; exit 1; }
done
desktop-file-validate "$stage/usr/share/applications/calorivista.desktop"
"$stage/usr/bin/calorivista-export" --version >/dev/null
# Each output is taken whole before it is looked at: "| grep -q" stops reading
# at the first match, and the writer's SIGPIPE then fails the pipe.
help=$("$stage/usr/bin/calorivista-collect" --help)
grep -q '^SYNOPSIS' <<<"$help" || { echo "check-install: calorivista-collect --help is no man page" >&2; exit 1; }
help=$("$stage/usr/bin/calorivista-verify" --help)
grep -q '^EXIT STATUS' <<<"$help" || { echo "check-install: calorivista-verify --help is no man page" >&2; exit 1; }
help=$(QT_QPA_PLATFORM=offscreen "$stage/usr/bin/calorivista-view" --help)
grep -q 'calorivista-view' <<<"$help" || { echo "check-install: calorivista-view --help names no program" >&2; exit 1; }
echo "check-install: ${#expected[@]} files installed as expected"

(cd "$root/build" && rm -f calorivista_*.deb && cpack -G DEB >/dev/null)
package=$(ls "$root"/build/calorivista_*.deb)
depends=$(dpkg-deb -f "$package" Depends)
grep -q libqt6widgets6 <<<"$depends" || { echo "check-install: the package does not depend on Qt" >&2; exit 1; }
grep -q libmosquitto1 <<<"$depends" || { echo "check-install: the package does not depend on libmosquitto" >&2; exit 1; }
grep -q libpq5 <<<"$depends" || { echo "check-install: the package does not depend on libpq" >&2; exit 1; }
grep -q libssl3 <<<"$depends" || { echo "check-install: the package does not depend on libssl3 (libcrypto)" >&2; exit 1; }
echo "check-install: $(basename "$package") made"

if [ "${CI:-}" = "true" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$package" >/dev/null
    /usr/bin/calorivista-export --version >/dev/null
    QT_QPA_PLATFORM=offscreen /usr/bin/calorivista-sim --help >/dev/null
    /usr/bin/calorivista-collect --help >/dev/null
    /usr/bin/calorivista-verify --help >/dev/null
    QT_QPA_PLATFORM=offscreen /usr/bin/calorivista-view --help >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y calorivista >/dev/null
    echo "check-install: the package installs with apt and its commands run"
fi
