#!/bin/sh
# Builds the shipped programs a second time, from a copy of the sources in a folder of another
# name and length, without the tests and without ccache, and compares them byte for byte with the
# first build's.  second_build.sh SOURCE BUILD WORK OPTIONS (OPTIONS: the product's cache values)
set -eu
[ $# -eq 4 ] || { echo "usage: second_build.sh SOURCE BUILD WORK OPTIONS" >&2; exit 2; }
source=$1 build=$2 work=$3 options=$4
rm -rf "$work"
mkdir -p "$work/source"
# Everything but .git and build folders (the first build may lie inside the sources).
for entry in "$source"/* "$source"/.[!.]*; do
  case ${entry##*/} in .git|build*) continue ;; esac
  if [ -e "$entry" ] && [ "$entry" != "$build" ]; then cp -R "$entry" "$work/source/"; fi
done
export CCACHE_DISABLE=1
cmake -S "$work/source" -B "$work/build" -G Ninja -C "$options" -DPLINTHWARE_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$work/source/cmake/mingw-w64-x86_64.cmake" >/dev/null
# At the lowest priority: the tests under Wine that run meanwhile keep their pace.
nice -n 19 cmake --build "$work/build" -j 2 --target PlinthwareUpdater InfoCheck >/dev/null
status=0
for program in src/PlinthwareUpdater.exe tools/infocheck/InfoCheck.exe; do
  if cmp "$build/$program" "$work/build/$program"; then
    echo "identical: $program $(sha256sum <"$build/$program" | cut -c1-64)"
  else
    echo "DIFFERENT: $program; the bytes that differ (offset, first build, second build, octal):"
    cmp -l "$build/$program" "$work/build/$program" | head -20 || true
    status=1
  fi
done
exit $status
