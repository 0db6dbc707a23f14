#!/usr/bin/env bash
# Builds Release for Linux and Windows and writes the release packages:
#   build/packages/varlobooks-VERSION-linux-x86_64.tar.gz
#   build/packages/varlobooks_VERSION_amd64.deb
#   build/packages/varlobooks-VERSION-windows-x64.zip
#   build/packages/varlobooks-blender-VERSION.zip (the add-on, Linux and Windows)
#   build/packages/varlobooks-VERSION-web.zip (the page as static files)
#   build/packages/SHA256SUMS
# Every file and timestamp inside comes from the commit (SOURCE_DATE_EPOCH),
# so two runs from the same commit give the same bytes, wherever they build.
# Usage: scripts/package.sh [BUILD_ROOT]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)
root=$(realpath -m "${1:-build}")

scripts/deps.sh windows
scripts/deps.sh packaging
scripts/deps.sh web
scripts/web.sh

# One date for everything: the commit's, unless the caller gives one.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "package.sh: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

version=$(sed -n 's/^project(varlobooks VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "package.sh: no version in CMakeLists.txt" >&2; exit 1; }
linux_build=$root/release
windows_build=$root/windows-release
out=$root/packages
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
rm -rf "$out"
mkdir -p "$out"

build() { # PRESET FOLDER
  local log
  log=$(mktemp)
  if ! { cmake --preset "$1" -B "$2" && cmake --build "$2"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "package.sh: the $1 build failed (its output is above)" >&2
    exit 1
  fi
  rm -f "$log"
}

# Files in a fixed order, owned by nobody in particular, all of the commit's
# date: tar and zip then write the same bytes each time.
settle() { # FOLDER
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

echo "package.sh: building Linux Release in $linux_build" >&2
build release "$linux_build"
name=varlobooks-$version-linux-x86_64
cmake --install "$linux_build" --prefix "$stage/$name" --strip --component runtime >/dev/null
cmake --install "$linux_build" --prefix "$stage/$name" --component man >/dev/null
cp README.md CHANGELOG.md LICENSE THIRD_PARTY_NOTICES "$stage/$name/"
settle "$stage/$name"
tar --format=gnu --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
  -C "$stage" -cf - "$name" | gzip -9n >"$out/$name.tar.gz"

echo "package.sh: making the .deb" >&2
rm -rf "$linux_build/packages"
(cd "$linux_build" && cpack -G DEB >/dev/null)
cp "$linux_build/packages/varlobooks_${version}_amd64.deb" "$out/"

echo "package.sh: building Windows Release in $windows_build" >&2
build windows-release "$windows_build"
name=varlobooks-$version-windows-x64
cmake --install "$windows_build" --prefix "$stage/$name" --strip --component runtime >/dev/null
sed "s/@VERSION@/$version/" packaging/windows/README.txt >"$stage/$name/README.txt"
cp LICENSE "$stage/$name/LICENSE.txt"
cp THIRD_PARTY_NOTICES "$stage/$name/THIRD_PARTY_NOTICES.txt"
cp CHANGELOG.md "$stage/$name/"
settle "$stage/$name"
(cd "$stage" && find "$name" | sort | zip -X -q -@ "$out/$name.zip")

echo "package.sh: making the Blender add-on" >&2
# The Linux build's add-on with the stripped libraries and modules of both
# systems, picked by platform when Blender loads it.
addon=$stage/addon
mkdir -p "$addon"
(cd "$addon" && cmake -E tar xf "$linux_build/blender/varlobooks-blender-$version.zip")
native=$addon/varlobooks/host/native
mkdir -p "$native/windows-x64"
cp "$stage/varlobooks-$version-linux-x86_64/lib/varlobooks/libvarlobooks_host.so" \
  "$stage/varlobooks-$version-linux-x86_64/lib/varlobooks/varlobooks.so" "$native/linux-x86_64/"
cp "$stage/$name/libvarlobooks_host.dll" "$stage/$name/varlobooks.dll" "$native/windows-x64/"
settle "$addon"
(cd "$addon" && find varlobooks | sort | zip -X -q -@ "$out/varlobooks-blender-$version.zip")

echo "package.sh: building the static page (WebAssembly)" >&2
web_build=$root/web-release
log=$(mktemp)
if ! { NODE_PATH=/usr/share/nodejs cmake --preset web -B "$web_build" -DVARLOBOOKS_REPRODUCIBLE=ON &&
  NODE_PATH=/usr/share/nodejs cmake --build "$web_build"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "package.sh: the web build failed (its output is above)" >&2
  exit 1
fi
rm -f "$log"
name=varlobooks-$version-web
mkdir -p "$stage/$name"
cp -r "$web_build/web-static/." "$stage/$name/"
cp LICENSE THIRD_PARTY_NOTICES "$stage/$name/"
sed "s/@VERSION@/$version/" packaging/web/README.txt >"$stage/$name/README.txt"
settle "$stage/$name"
(cd "$stage" && find "$name" | sort | zip -X -q -@ "$out/$name.zip")

(cd "$out" && sha256sum -- *.tar.gz *.deb *.zip >SHA256SUMS)
echo "package.sh: wrote, from $source:" >&2
(cd "$out" && ls -l -- *.tar.gz *.deb *.zip SHA256SUMS) >&2
