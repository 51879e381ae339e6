#!/usr/bin/env bash
# Installs every build and test dependency on a Debian 12 machine:
#   deps.sh          what the g++ builds, the tests and CI need
#   deps.sh fuzz     that and clang with libFuzzer (scripts/fuzz.sh)
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
  g++ cmake ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  libmbedtls-dev
  # The PNG reader of the image library (zlib comes with it).
  libpng-dev zlib1g-dev
  # The format check and the include-edge check of CI.
  clang-format python3
  # Every locale prebuilt, so the locale probes and tests find de_DE, fr_FR...
  locales-all
  # Reference libraries of the benchmarks only.
  nlohmann-json3-dev
  rapidjson-dev
  libpugixml-dev
  libevent-dev
  # Test-only references: pixman for the region and pixel tests and the
  # pixel benchmark, xkbcommon for the key-symbol tests; x11proto-dev's X11/keysymdef.h feeds the key-symbol
  # table's generator (qocore/base/rfb/KeysymTableGen.py).
  libpixman-1-dev
  libxkbcommon-dev
  x11proto-dev
  # Test oracles of the RSA and EC key tests (qocore/base/crypto/tests/data).
  python3-cryptography
  # Real proxy servers the proxy connector tests start on loopback: a SOCKS5
  # server and an HTTP proxy (the executable only: the tinyproxy package
  # would bring a system service).
  microsocks
  tinyproxy-bin
  # Proxy auto-configuration: the JavaScript engine of the resolver child,
  # the script downloads, and the PAC evaluator the PAC tests compare with.
  duktape-dev
  libcurl4-openssl-dev
  python3-pacparser
  # The URL opener and the scheme-handler query of the URL tests.
  xdg-utils
  # The system CA bundle, copied into the program's resources as the
  # wizard's trusted certificates ("cacerts.pem").
  ca-certificates
  # The whole-program test elevates the admin helper through "sudo -n", as
  # an ordinary user would; a bare Debian image has no sudo.
  sudo
)
# The regex differential test runs JavaScript's RegExp under node; any node
# already on the path will do.
if ! command -v node >/dev/null 2>&1; then packages+=(nodejs); fi
case "${1:-}" in
  "") ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  *) echo "usage: $0 [fuzz]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
