#!/usr/bin/env bash
# scripts/install-bridge.sh writes the user's unit and autostart entry with
# the bridge's path, registers the object, and removes them again.
set -euo pipefail
bin="$1"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
# The user's and the machine's registries, the desktop's folders: the
# test's own (root registers into the machine's registry otherwise).
export HOME="$root" XDG_CONFIG_HOME="$root/config" QUILLBAY_HOME="$root/home" \
  QUILLBAY_MACHINE_HOME="$root/machine" QUILLBAY_NO_SYSTEMD=1
"$(dirname "$0")/../../scripts/install-bridge.sh" --no-start --bin "$bin" >/dev/null
unit="$XDG_CONFIG_HOME/systemd/user/quillbay-bridge.service"
entry="$XDG_CONFIG_HOME/autostart/quillbay-bridge.desktop"
grep -qx "ExecStart=$bin/quillbay-bridge --foreground" "$unit"
grep -qx "Exec=$bin/quillbay-bridge" "$entry"
grep -qx "WantedBy=graphical-session.target" "$unit"
"$bin/quillbay-reg" query 'HKCR\Quillbay.QuillDoc\CLSID' | grep -q AE9D5D26
"$(dirname "$0")/../../scripts/install-bridge.sh" --uninstall >/dev/null
[ ! -e "$unit" ] && [ ! -e "$entry" ]
echo "install-bridge: unit and autostart entry installed and removed"
