#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the exports need,
# when any is missing. Safe to run again: it installs nothing that is there.
# Usage: scripts/deps.sh [windows|packaging|web]
#   windows: also the cross-build and wine; packaging: what scripts/package.sh
#   and scripts/check_packages.sh need besides; web: the WebAssembly build.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libbenchmark-dev      # tests and benchmarks
  libcli11-dev                       # the modeler command line
  libfmt-dev                         # shortest float text where the C++ library has none (WebAssembly)
  libcpp-httplib-dev libzip-dev      # modeler serve: HTTP, zipped downloads
  libstb-dev                         # decoding cover images, writing PNG
  libtinygltf-dev nlohmann-json3-dev # glTF export; JSON in the tests
  libtinyobjloader-dev               # reading OBJ back in the tests
  nodejs                             # the glTF validator in the tests
  chromium-headless-shell            # three.js opening the exports in the tests
  help2man                           # modeler's manual page, made from its help
  python3-pytest python3-numpy       # the Python package's tests, with and without NumPy
  blender                            # the Blender add-on's test, in Blender itself
)
if [[ ${1:-} == packaging ]]; then
  packages+=(
    dpkg-dev file                    # the .deb: dpkg-shlibdeps reads its dependencies
    lintian                          # checking the .deb as Debian would
    zip unzip                        # the Windows package
  )
fi
if [[ ${1:-} == web ]]; then
  packages+=(
    emscripten                       # the static page: the tool compiled to WebAssembly
  )
fi
if [[ ${1:-} == windows ]]; then
  packages+=(
    g++-mingw-w64-x86-64-posix       # the Windows cross-build
    wine64 wine                      # running it: the tests, the shelf comparison
    googletest                       # GoogleTest's sources, built for Windows
  )
fi

missing=()
for package in "${packages[@]}"; do
  [[ $package == \#* ]] && continue
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
