#!/usr/bin/env bash
# Installs quillbay-bridge for the current user: registers the object, and
# starts the bridge with each desktop session, through a systemd user unit
# (desktops whose sessions systemd manages) and an XDG autostart entry
# (every other desktop; one bridge per user runs either way).
#
#   scripts/install-bridge.sh [--uninstall] [--no-start] [--bin DIR]
#
# DIR holds quillbay-bridge, quillbay-regsvr and quillbay.so (default: the
# build's bin folder, build/bin or $BUILD_DIR/bin). QUILLBAY_NO_SYSTEMD=1
# leaves systemd alone (the autostart entry alone starts the bridge).
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$PWD/${BUILD_DIR:-build}/bin"
uninstall=0 start=1
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) uninstall=1 ;;
    --no-start) start=0 ;;
    --bin) bin="$(cd "$2" && pwd)"; shift ;;
    *) echo "usage: $0 [--uninstall] [--no-start] [--bin DIR]" >&2; exit 2 ;;
  esac
  shift
done
config="${XDG_CONFIG_HOME:-$HOME/.config}"
unit="$config/systemd/user/quillbay-bridge.service"
entry="$config/autostart/quillbay-bridge.desktop"
have_systemd() {
  [ -z "${QUILLBAY_NO_SYSTEMD:-}" ] && command -v systemctl >/dev/null &&
    systemctl --user show-environment >/dev/null 2>&1
}

if [ "$uninstall" = 1 ]; then
  if have_systemd; then systemctl --user disable --now quillbay-bridge.service 2>/dev/null || true; fi
  rm -f "$unit" "$entry"
  if have_systemd; then systemctl --user daemon-reload; fi
  echo "quillbay-bridge: unit and autostart entry removed"
  exit 0
fi

[ -x "$bin/quillbay-bridge" ] || { echo "no $bin/quillbay-bridge: build first (scripts/build.sh)" >&2; exit 1; }
"$bin/quillbay-regsvr" /s "$bin/quillbay.so"
mkdir -p "$(dirname "$unit")" "$(dirname "$entry")"
sed "s|/usr/bin/quillbay-bridge|$bin/quillbay-bridge|" tools/bridge/quillbay-bridge.service > "$unit"
sed "s|/usr/bin/quillbay-bridge|$bin/quillbay-bridge|" tools/bridge/quillbay-bridge.desktop > "$entry"
echo "quillbay-bridge: installed $unit"
echo "quillbay-bridge: installed $entry"
[ "$start" = 1 ] || exit 0
if have_systemd; then
  systemctl --user daemon-reload
  systemctl --user enable quillbay-bridge.service
  systemctl --user start quillbay-bridge.service 2>/dev/null || "$bin/quillbay-bridge"
else
  "$bin/quillbay-bridge" # detaches; says so when one is running already
fi
echo "quillbay-bridge: pages include http://127.0.0.1:18412/quillbay.js"
