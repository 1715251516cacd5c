#!/usr/bin/env bash
# Installs a build tree into a temporary prefix, checks the installed files, then builds and runs
# a host outside the tree twice: once with find_package(orvane), once with pkg-config.
# Usage: run.sh BUILD_DIR CXX [EXTRA_FLAGS]
set -euo pipefail
build_dir=$1
cxx=$2
flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/orvane-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(cd "$prefix" && ls -d lib*/ | head -1)
libdir=${libdir%/}
for lib in orvane_host orvane_scheduler orvane_summarizer orvane_deskhand orvane_creator; do
  soname=$(readelf -d "$prefix/$libdir/lib$lib.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.0" ] || { echo "lib$lib.so has SONAME '$soname'"; exit 1; }
done
# The static helpers stay inside the shared libraries.
if ls "$prefix/$libdir"/*.a >/dev/null 2>&1; then echo "static libraries installed"; exit 1; fi
for header in orvane/scheduler/scheduler.hpp orvane/summarizer/summarizer.hpp \
              orvane/pc/deskhand.hpp orvane/host/loop.hpp orvane/skills/creator.hpp; do
  [ -f "$prefix/include/$header" ] || { echo "missing header $header"; exit 1; }
done
[ ! -e "$prefix/include/orvane/common" ] || { echo "internal headers installed"; exit 1; }
"$prefix/bin/orvane" --data-dir "$work/data" schedule list >/dev/null

echo "== find_package"
cmake -S "$here" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  >/dev/null
cmake --build "$work/build" >/dev/null
mkdir -p "$work/data-cmake"
"$work/build/consumer" "$work/data-cmake"

echo "== pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$here/main.cpp" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs orvane-scheduler orvane-summarizer orvane-deskhand orvane-creator)
mkdir -p "$work/data-pc"
# The Libs line's rpath finds the libraries of a prefix the loader does not search.
env -u LD_LIBRARY_PATH "$work/consumer-pc" "$work/data-pc"
