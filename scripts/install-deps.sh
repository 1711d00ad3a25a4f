#!/bin/sh
# Installs the Debian packages the builds and tests need, when missing.
#   install-deps.sh [linux|all|fuzz]   (default: all: the Linux and the Windows
#   cross build with Wine; fuzz: clang and its libFuzzer runtime)
set -e
want="cmake ninja-build g++ make binutils libgtest-dev googletest libbenchmark-dev python3"
# ip makes the private network namespaces of the network tests and demo.
want="$want iproute2"
# The tools' command lines (header-only); the C# binding's compiler and
# runtime; pkg-config for the install test's consumer.
want="$want libcli11-dev mono-mcs mono-runtime pkg-config"
case "${1:-all}" in
  all) want="$want g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64" ;;
  fuzz) want="$want clang libclang-rt-14-dev" ;;
esac
missing=""
for p in $want; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" != 0 ]; then
  echo "run as root, or install these Debian packages:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing >/dev/null
