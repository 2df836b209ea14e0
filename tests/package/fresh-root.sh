#!/usr/bin/env bash
# The package on a fresh Debian machine: in a minimal Debian root made here
# with mmdebstrap from this machine's own apt sources, "apt-get install
# ./quillbay_*.deb" pulls its dependencies; a user with no registration of
# their own prints the sample page, the object found through
# HKEY_CLASSES_ROOT; the dispatcher's account and socket are there, and the
# dispatcher, run as that account with its one capability, hands the user's
# connection to the user's own bridge; a site allowed for the machine is in
# the browsers' policies; "apt-get purge quillbay" leaves no file of the package, no
# registration and no policy behind.
#
#   fresh-root.sh PACKAGE.deb
#
# Downloaded packages and lists are kept in QUILLBAY_ROOT_CACHE (default
# /var/cache/quillbay-test-root) for the next run. Exits with 77 (a skip)
# when this machine cannot make a Debian root.
set -euo pipefail

readonly class='{AE9D5D26-B784-4C47-8830-86B5D0CA1F7C}'

# The module's folder is the package's architecture's (a cross-built
# package's is not this machine's).
module_of() {
  local arch
  arch=$(dpkg-deb -f "$1" Architecture)
  echo "/usr/lib/$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)/quillbay/quillbay.so"
}

fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "[$(date +%T)] $*"; }

# What the root's user sees of a command, as that user and with a clean
# environment.
as_alice() {
  chroot "$root" runuser -u alice -- env -i HOME=/home/alice PATH=/usr/bin:/bin \
    QUILLBAY_UI=headless "$@"
}

check_installed() {
  local tool out
  for tool in quillbay-script quillbay-regsvr quillbay-reg quillbay-bridge quillbay-jobs; do
    out=$(chroot "$root" "$tool" --version) || fail "$tool --version"
    [ "$out" = "$tool (quillbay) $(dpkg-deb -f "$deb" Version)" ] || fail "$tool --version: $out"
    [ -f "$root/usr/share/man/man1/$tool.1.gz" ] || fail "no manual page for $tool"
  done
  [ -f "$root/usr/share/man/man3/Quillbay.QuillDoc.3.gz" ] || fail "no manual page for the object"
  local unit
  for unit in $(chroot "$root" dpkg-query -L quillbay | grep '^/usr/lib/systemd/user/.'); do
    compgen -G "$root/etc/systemd/user/*.wants/${unit##*/}" >/dev/null ||
      fail "${unit##*/} is not enabled for every user"
  done
  [ -f "$root/var/lib/quillbay/registry.db" ] || fail "no machine registry"
  [ "$(stat -c %a "$root/var/lib/quillbay/registry.db")" = 644 ] || fail "machine registry not readable by all"
}

check_user_prints() {
  chroot "$root" useradd --create-home alice
  out=$(as_alice quillbay-reg query "HKCR\\CLSID\\$class\\InprocServer32" @) ||
    fail "alice does not see the class: $out"
  [ "$out" = "$module" ] || fail "alice sees the class at $out"
  as_alice quillbay-script /usr/share/doc/quillbay/examples/sample-page.html ||
    fail "alice could not print the sample page"
  local state=$root/home/alice/.local/share/quillbay jobs
  jobs=$(find "$state/prints" -name '*.pdf' -size +1k | wc -l)
  [ "$jobs" -ge 1 ] || fail "no printed page in $state/prints"
  step "alice printed $jobs page(s): $(cut -f2,3 "$state/print-jobs.log" | tr '\t\n' ' ')"
  # The object came from the machine's registration: alice has no classes.
  if as_alice quillbay-reg query 'HKCU\Software\Classes' >/dev/null 2>&1; then
    fail "alice has classes of her own"
  fi
}

# The dispatcher as its unit runs it: the system account the postinst made,
# CAP_DAC_OVERRIDE alone, the user's bridge in the user's private runtime
# folder. --status as the user goes through it to the user's bridge.
check_dispatcher() {
  chroot "$root" getent passwd quillbay-dispatch >/dev/null || fail "no quillbay-dispatch account"
  compgen -G "$root/etc/systemd/system/*.wants/quillbay-dispatch.socket" >/dev/null ||
    fail "quillbay-dispatch.socket is not enabled"
  local port=18419 uid runtime dispatcher bridge out
  uid=$(chroot "$root" id -u alice)
  runtime=/run/user/$uid
  mkdir -p "$root$runtime" && chroot "$root" chown alice: "$runtime" && chmod 700 "$root$runtime"
  chroot "$root" setpriv --reuid=quillbay-dispatch --regid=quillbay-dispatch --clear-groups \
    --inh-caps=+dac_override --ambient-caps=+dac_override \
    quillbay-bridge --dispatch --port $port >"$root/tmp/dispatch.log" 2>&1 &
  dispatcher=$!
  # setpriv execs the bridge itself (runuser would stay between), so the
  # process to stop is the one started here.
  chroot "$root" setpriv --reuid=alice --regid=alice --init-groups env -i HOME=/home/alice \
    PATH=/usr/bin:/bin QUILLBAY_UI=headless XDG_RUNTIME_DIR="$runtime" \
    quillbay-bridge --foreground --socket-only --port $port >"$root/tmp/alice-bridge.log" 2>&1 &
  bridge=$!
  for _ in $(seq 50); do [ -S "$root$runtime/quillbay/bridge.sock" ] && break; sleep 0.1; done
  out=$(as_alice env XDG_RUNTIME_DIR="$runtime" quillbay-bridge --status --port $port) || true
  kill "$bridge" "$dispatcher" 2>/dev/null || true
  wait "$bridge" "$dispatcher" 2>/dev/null || true
  rm -rf "${root:?}/run/user"
  [[ $out == *"dispatcher answers"*"account alice's connections"* ]] ||
    fail "alice's page does not reach her bridge through the dispatcher: $out
$(cat "$root/tmp/dispatch.log" "$root/tmp/alice-bridge.log")"
  step "the dispatcher, as quillbay-dispatch, hands alice's connection to her bridge"
}

# The administrator allows a site for every account and browser; the purge
# must take the browsers' policy files away again.
check_machine_allows() {
  chroot "$root" env -u QUILLBAY_MACHINE_HOME -u QUILLBAY_POLICY_ROOT \
    quillbay-bridge --allow https://shop.example --machine || fail "--allow --machine"
  local policy
  for policy in /etc/chromium/policies/managed/00-quillbay.json /etc/firefox-esr/zz-quillbay.js; do
    grep -q shop.example "$root$policy" || fail "no $policy after --allow --machine"
  done
  out=$(as_alice quillbay-bridge --list-origins --machine) || fail "alice cannot read the machine's list"
  [[ $out == allowed$'\t'https://shop.example* ]] || fail "alice sees the machine's list as: $out"
  step "https://shop.example allowed for the machine, in $(grep -c '^policy' <<<"$out") browser policies"
}

check_purged() {
  local path left=()
  while read -r path; do
    [ -e "$root$path" ] || [ -L "$root$path" ] || continue
    [ -d "$root$path" ] && [[ $path != *quillbay* ]] && continue # a folder others share
    left+=("$path")
  done <<<"$files"
  while read -r path; do
    left+=("${path#"$root"}")
  done < <(find "$root" -xdev -iname '*quillbay*' -not -path "$root/home/*" -not -path "$root/tmp/*")
  [ ${#left[@]} -eq 0 ] || fail "left behind after purge: ${left[*]}"
  for path in /proc/[0-9]*; do
    [ "$(readlink "$path/root" 2>/dev/null)" = "$root" ] || continue
    left+=("$(cat "$path/comm")")
    kill -9 "${path#/proc/}" 2>/dev/null || true
  done
  [ ${#left[@]} -eq 0 ] || fail "processes left running in the root: ${left[*]}"
  if as_alice quillbay-reg --version >/dev/null 2>&1; then fail "the tools are still there"; fi
}

# Runs inside mmdebstrap's customize step: $1 is the root, $2 the package.
inside() {
  root=$1 deb=$2
  module=$(module_of "$deb")
  # The root is a machine of its own: its commands get none of the test
  # run's folders and servers, which are not there.
  unset TMPDIR XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR \
    CUPS_SERVER CUPS_SERVERROOT QUILLBAY_HOME QUILLBAY_MACHINE_HOME QUILLBAY_PRINT_DIR QUILLBAY_UI
  export HOME=/root
  cp "$deb" "$root/tmp/"
  step "installing $(basename "$deb") and its dependencies"
  # As a user would: with the package's recommendations (fonts, CUPS).
  chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    -o APT::Install-Recommends=true "/tmp/$(basename "$deb")" >"$root/tmp/install.log" 2>&1 ||
    { tail -30 "$root/tmp/install.log"; fail "apt-get install"; }
  step "$(grep -c '^Setting up' "$root/tmp/install.log") packages set up, among them" \
    "$(grep -oE '^Setting up (cups|fonts-[a-z-]+|quillbay) ' "$root/tmp/install.log" | cut -d' ' -f3 | tr '\n' ' ')"
  check_installed
  check_user_prints
  check_dispatcher
  check_machine_allows
  files=$(chroot "$root" dpkg-query -L quillbay)
  step "purging"
  chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quillbay \
    >"$root/tmp/purge.log" 2>&1 || { tail -30 "$root/tmp/purge.log"; fail "apt-get purge"; }
  check_purged
  rm -f "$root/tmp/$(basename "$deb")"
  step "installed, printed as a user, purged: nothing left"
}

if [ "${1:-}" = inside ]; then
  inside "$2" "$3"
  exit 0
fi

[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: fresh-root.sh PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
skip() { echo "SKIPPED: $*"; exit 77; }
package_arch=$(dpkg-deb -f "$deb" Architecture)
[ "$package_arch" = "$(dpkg --print-architecture)" ] || [ "$package_arch" = all ] ||
  skip "the package is for $package_arch; this $(dpkg --print-architecture) machine runs a root of its own architecture only"
[ "$(id -u)" -eq 0 ] || skip "making a Debian root needs root"
command -v mmdebstrap >/dev/null || skip "mmdebstrap is not installed"
unshare --mount true 2>/dev/null || skip "this machine does not let root mount (needed for a root's /proc)"

# This machine's own Debian sources, one line each.
. /etc/os-release
mapfile -t sources < <(apt-get indextargets --format '$(ORIGIN)|$(REPO_URI)|$(RELEASE)|$(COMPONENT)' \
  'Created-By: Packages' 2>/dev/null | awk -F'|' '$1 == "Debian" { print "deb " $2 " " $3 " " $4 }' |
  sort -u)
[ ${#sources[@]} -gt 0 ] || skip "this machine has no Debian apt sources to make a root from"

# Packages and package lists are kept between runs, hard-linked in and out
# of the root (its working folder lies beside the cache, on the same file
# system) so a run copies nothing.
cache=${QUILLBAY_ROOT_CACHE:-/var/cache/quillbay-test-root}
mkdir -p "$cache/archives" "$cache/lists"
work=$(mktemp -d "$cache/work.XXXXXX")
trap 'rm -rf --one-file-system "$work"' EXIT
link_in='cp -al "$0"/archives/. "$1"/var/cache/apt/archives/ && cp -al "$0"/lists/. "$1"/var/lib/apt/lists/'
link_out='cp -aln "$1"/var/cache/apt/archives/*.deb "$0"/archives/ 2>/dev/null;
  find "$0"/lists -type f -delete; cp -al "$1"/var/lib/apt/lists/*_* "$0"/lists/ 2>/dev/null; true'
step "making a minimal Debian $VERSION_CODENAME root (cache: $(find "$cache/archives" -name '*.deb' | wc -l) packages)"
TMPDIR=$work mmdebstrap --quiet --variant=minbase --skip=essential/unlink \
  --dpkgopt=force-unsafe-io --aptopt='Acquire::Languages "none"' \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives "$1"/var/lib/apt/lists' \
  --setup-hook="sh -c '$link_in' '$cache' \"\$1\"" \
  --customize-hook="'$(realpath "$0")' inside \"\$1\" '$deb'" \
  --customize-hook="sh -c '$link_out' '$cache' \"\$1\"" \
  "$VERSION_CODENAME" /dev/null "${sources[@]}"
