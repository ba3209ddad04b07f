# Shared by scripts/run and scripts/test: install what is missing, then build.
# Sourced, not run.

QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
QUORVEL_BUILD="${QUORVEL_BUILD:-$QUORVEL_ROOT/build}"

# Debian packages the build and the tests need.
QUORVEL_PACKAGES=(
  g++ cmake ninja-build pkg-config
  libpcap-dev libcap-dev libcap2-bin
  qt6-base-dev libqt6svg6
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2
  binutils  # addr2line, which the crash report tests use
)

# What making the Debian package (scripts/package) and checking it
# (scripts/test) take beside the build: the shared-library dependency
# finder, an SVG renderer for the icon's fixed sizes, the validators of the
# desktop entry and of the software catalogue's entry, and the tracer that
# shows where the installed program reads and writes.
QUORVEL_PACKAGING_PACKAGES=(dpkg-dev librsvg2-bin desktop-file-utils appstream strace)

# The window's texts are Simplified Chinese: bring a compact font for them
# unless the machine has one already.
if ! fc-list :lang=zh-cn family 2>/dev/null | grep -q .; then
  QUORVEL_PACKAGES+=(fonts-wqy-microhei)
fi

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_packages() {
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$pkg"
    fi
  done
}

install_missing_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "Installing Debian packages: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Builds the targets named, or everything.
configure_and_build() {
  if [ ! -f "$QUORVEL_BUILD/build.ninja" ]; then
    cmake -S "$QUORVEL_ROOT" -B "$QUORVEL_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  local targets=()
  [ "$#" -gt 0 ] && targets=(--target "$@")
  cmake --build "$QUORVEL_BUILD" -j "$(nproc)" "${targets[@]}"
}
