# Shared by scripts/run and scripts/test: install what is missing, then build.
# Sourced, not run.

QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
QUORVEL_BUILD="${QUORVEL_BUILD:-$QUORVEL_ROOT/build}"

# Debian packages the build and the tests need.
QUORVEL_PACKAGES=(
  g++ cmake ninja-build pkg-config
  libpcap-dev libcap-dev libcap2-bin
  clang-14 libbpf-dev bpftool  # the capture helper's socket programs and their skeleton
  qt6-base-dev libqt6svg6
  qt6-translations-l10n  # the toolkit's own texts in Chinese
  qt6-l10n-tools qt6-tools-dev  # lupdate and lrelease, for the translations
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2
  tcpdump iputils-ping  # the live tests count their traffic a second way, and ping
  binutils  # addr2line, which the crash report tests use
  python3  # the export tests read files back with its csv and json readers
  nfdump  # the flow export tests send to its collector, nfcapd, and read back what it stored
)

# What making the Debian package (scripts/package) and checking it
# (scripts/test) take beside the build: the shared-library dependency
# finder, an SVG renderer for the icon's fixed sizes, the validators of the
# desktop entry and of the software catalogue's entry, and the tracer that
# shows where the installed program reads and writes.
QUORVEL_PACKAGING_PACKAGES=(dpkg-dev librsvg2-bin desktop-file-utils appstream strace)

# The window's texts are written in Simplified Chinese (and shown so on a
# Chinese desktop): bring a compact font for them unless the machine has one
# already.
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

# The checked builds, with clang: libFuzzer and the sanitizers' runtimes
# come with its compiler-rt package, llvm-symbolizer names the lines.
QUORVEL_CHECKED_PACKAGES=(clang-14 libclang-rt-14-dev llvm-14)

# A sanitizer's finding ends the program with this code, which no test
# expects of anything, so that a report can never pass for a failure that
# a test looked for.
QUORVEL_SANITIZER_EXIT_CODE=86

# build-asan: AddressSanitizer and UndefinedBehaviorSanitizer over
# everything, and the fuzz harnesses. build-tsan: ThreadSanitizer over
# everything but the window (its Qt is not instrumented).
checked_build_folder() { printf '%s/build-%s\n' "$QUORVEL_ROOT" "$1"; }

configure_checked_build() {
  local kind="$1" folder
  folder="$(checked_build_folder "$kind")"
  [ -f "$folder/build.ninja" ] && return 0
  local options=(-DQUORVEL_BENCHMARKS=OFF)
  case "$kind" in
    asan) options+=(-DQUORVEL_SANITIZE=address -DQUORVEL_FUZZ=ON) ;;
    tsan) options+=(-DQUORVEL_SANITIZE=thread -DQUORVEL_WINDOW=OFF) ;;
  esac
  cmake -S "$QUORVEL_ROOT" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "${options[@]}"
}

# What the sanitizers need at run time; the build runs the test programs
# too (to list their tests), so it is set before building.
export_sanitizer_options() {
  local code="$QUORVEL_SANITIZER_EXIT_CODE"
  export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14
  export ASAN_OPTIONS="exitcode=$code:detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
  export UBSAN_OPTIONS="exitcode=$code:halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="exitcode=$code"
  export TSAN_OPTIONS="exitcode=$code:halt_on_error=1:second_deadlock_stack=1"
}

build_checked() {
  local kind="$1"
  install_missing_packages "${QUORVEL_CHECKED_PACKAGES[@]}"
  export_sanitizer_options
  configure_checked_build "$kind"
  shift
  cmake --build "$(checked_build_folder "$kind")" -j "$(nproc)" "$@"
}
