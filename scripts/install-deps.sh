#!/usr/bin/env bash
# Installs what the build and the tests need; skips whatever is already there.
# Safe to run again: a second run on a prepared machine only checks.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

APT_PACKAGES=(
  g++ cmake make pkg-config
  libncurses-dev          # wide-character ncurses (ncursesw)
  libcrypto++-dev         # SHA-256
  libgtest-dev googletest # unit tests
  tmux                    # screen and end-to-end tests
  python3                 # drives tmux in the screen tests
  dpkg-dev xz-utils       # unpacking the Kyber source package
  ca-certificates
  libpcre2-dev            # the search program's regular expressions (with JIT)
  clang libclang-rt-14-dev # fuzz targets and the ThreadSanitizer leg
  fdupes jdupes pwgen     # peers the benchmarks measure against
  ripgrep fd-find coreutils
  e2fsprogs               # ext4 images for the wipe tests
)

missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- Kyber1024: Botan 3's round-3 Kyber, built from Debian's source package ---
# liboqs is not packaged here; Botan's "Kyber-1024-r3" gives the same bytes on the wire.
BOTAN_PREFIX=/opt/zeyla-botan
BOTAN_SUITE=trixie
BOTAN_STAMP="$BOTAN_PREFIX/.built-from"

botan_apt_setup() {
  # Our own apt state: the machine's sources and lists stay untouched.
  local state="$1"
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial"
  local mirror
  mirror=$(grep -hoE '^(URIs:|deb) +[a-z]+://[^ ]+' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null \
           | awk '{print $2}' | grep -v -- '-security' | grep -i debian | head -n1 || true)
  [ -n "$mirror" ] || { echo "install-deps: no Debian mirror found in the apt sources" >&2; return 1; }
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $BOTAN_SUITE main" > "$state/sources.list"
  APT_OPTS=(-o "Dir::Etc::SourceList=$state/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
            -o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache" -o "APT::Get::List-Cleanup=0"
            -o "APT::Sandbox::User=root")
  apt-get "${APT_OPTS[@]}" -qq update
}

install_botan() {
  local work
  work=$(mktemp -d /tmp/zeyla-botan.XXXXXX)
  trap 'rm -rf "$work"' RETURN
  botan_apt_setup "$work/apt"
  local version
  version=$(apt-cache "${APT_OPTS[@]}" showsrc botan3 | awk '/^Version:/{print $2; exit}')
  [ -n "$version" ] || { echo "install-deps: botan3 source package not found" >&2; return 1; }
  if [ -f "$BOTAN_STAMP" ] && [ "$(cat "$BOTAN_STAMP")" = "$version" ]; then
    return 0
  fi
  echo "install-deps: building Botan $version (Kyber only)"
  (cd "$work" && apt-get "${APT_OPTS[@]}" -qq source --download-only "botan3=$version" >/dev/null \
     && dpkg-source -x --no-check botan3_*.dsc src >/dev/null)
  (cd "$work/src" && python3 configure.py --minimized-build --enable-modules=kyber,system_rng \
     --disable-shared-library --build-targets=static --without-documentation \
     --prefix="$BOTAN_PREFIX" >/dev/null \
     && { make -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; exit 1; }; } \
     && $SUDO rm -rf "$BOTAN_PREFIX" && $SUDO make install >/dev/null)
  echo "$version" | $SUDO tee "$BOTAN_STAMP" >/dev/null
}

# A built copy is trusted without asking the network; ZEYLA_BOTAN_REFRESH=1 checks for a newer one.
if [ ! -f "$BOTAN_STAMP" ] || [ "${ZEYLA_BOTAN_REFRESH:-0}" = 1 ]; then
  install_botan
fi
