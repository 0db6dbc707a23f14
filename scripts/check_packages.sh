#!/usr/bin/env bash
# Installs and runs what scripts/package.sh wrote, as a user would:
#   - the checksums and lintian's verdict on the .deb (no errors);
#   - the .deb installed with apt-get: --version, a fill with the installed
#     examples and covers, the page answering at / from modeler serve; then
#     removed, with no file of it left behind;
#   - the tarball unpacked into a folder with a space in its path and run
#     from there;
#   - the Windows zip unzipped into an empty folder and run under wine, the
#     DLL's exports and version resource checked;
#   - the static page unzipped and used by hand in Chromium from a static
#     server, its sessions replayed by the tarball's modeler.
# Usage: scripts/check_packages.sh [PACKAGES_FOLDER]   (default: build/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$(pwd)
packages=$(realpath "${1:-build/packages}")
scripts/deps.sh windows
scripts/deps.sh packaging
version=$(sed -n 's/^project(varlobooks VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
expected="modeler $version, module varlobooks $version"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
work=$(mktemp -d)
server=""
cleanup() {
  [[ -z $server ]] || kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "check_packages.sh: $*" >&2
  exit 1
}
step() { echo "check_packages.sh: $*" >&2; }

step "checksums"
(cd "$packages" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
deb=$packages/varlobooks_${version}_amd64.deb
tarball=$packages/varlobooks-$version-linux-x86_64.tar.gz
zip=$packages/varlobooks-$version-windows-x64.zip
addon=$packages/varlobooks-blender-$version.zip
web=$packages/varlobooks-$version-web.zip
for file in "$deb" "$tarball" "$zip" "$addon" "$web"; do [[ -f $file ]] || fail "$file is missing"; done

step "lintian"
# Kept warnings: maintscript-calls-ldconfig (CPack adds an ldconfig call for
# any shared object under /usr/lib; our module is a plug-in in a folder of
# its own that ldconfig ignores).
lintian --fail-on error --allow-root "$deb" || fail "lintian found errors in $deb"

# The programs a package installed, run against its own files: the version,
# a fill with the sample covers, a session from the examples.
run_modeler() { # MODELER EXAMPLES OUT
  local modeler=$1 examples=$2 out=$3 summary
  [[ $("$modeler" --version) == "$expected" ]] || fail "$modeler --version: $("$modeler" --version)"
  mkdir -p "$out"
  summary=$("$modeler" fill --box 0,0,0:1,0.5,0.3 --seed 0 --images "$examples/covers" \
    -o "$out/fill.glb" -o "$out/fill.json") || fail "$modeler fill failed"
  textured "$summary" || fail "$modeler fill gave no cover an image: $summary"
  "$modeler" -q run "$examples/shelf.session" -o "$out/shelf.obj" || fail "$modeler run failed"
  [[ -s $out/fill.glb && -s $out/fill.json && -s $out/shelf.mtl ]] || fail "$modeler wrote nothing"
}
# Whether a run's summary line counts textured covers.
textured() { grep -Eq '[1-9][0-9]* textured covers' <<<"$1"; }

# The Python package beside the library: the same books as modeler fill.
check_python() { # MODELER PYTHONPATH OUT
  local ours theirs
  ours=$(PYTHONPATH=$2 /usr/bin/python3 -c 'import varlobooks
print(len(varlobooks.fill(box=((0, 0, 0), (1, 0.5, 0.3)), seed=0).books))') ||
    fail "import varlobooks failed (PYTHONPATH=$2)"
  theirs=$("$1" fill --box 0,0,0:1,0.5,0.3 --seed 0 -o "$3/count.json" | sed -n 's/^\([0-9]*\) books.*/\1/p')
  [[ -n $ours && $ours == "$theirs" ]] || fail "the Python package made $ours books, modeler $theirs"
}

step "the .deb: install"
if dpkg-query -W varlobooks >/dev/null 2>&1; then $sudo apt-get remove -y -qq varlobooks >/dev/null; fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >/dev/null
mapfile -t installed < <(dpkg -L varlobooks)
[[ $(command -v modeler) == /usr/bin/modeler ]] || fail "modeler is not on the PATH"
run_modeler modeler /usr/share/varlobooks/examples "$work/deb"
check_python modeler "" "$work/deb"
[[ -f /usr/share/man/man1/modeler.1.gz ]] || fail "no manual page"

step "the .deb: modeler serve"
modeler serve --port 0 --images /usr/share/varlobooks/examples/covers >"$work/serve.log" 2>&1 &
server=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/serve.log")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || fail "modeler serve did not start: $(cat "$work/serve.log")"
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET / HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$port" >&3
page=$(cat <&3)
exec 3<&-
kill "$server"
wait "$server" || true
server=""
[[ $page == "HTTP/1.1 200"* ]] || fail "the page did not answer 200: ${page:0:200}"
[[ $page == *"<title>varlobooks $version:"* ]] || fail "the page's title lacks the version"

step "the .deb: remove"
$sudo apt-get remove -y -qq varlobooks >/dev/null
if dpkg-query -W -f='${Status}' varlobooks 2>/dev/null | grep -q "ok installed"; then
  fail "varlobooks is still installed"
fi
for path in "${installed[@]}"; do
  [[ $path == /. ]] && continue
  if [[ -d $path ]]; then
    case $path in
      */varlobooks | */varlobooks/*) fail "$path is left after removal" ;;
    esac
  elif [[ -e $path || -L $path ]]; then
    fail "$path is left after removal"
  fi
done

step "the tarball, unpacked where the path has a space"
unpacked="$work/my tools"
mkdir -p "$unpacked"
tar -xzf "$tarball" -C "$unpacked"
home="$unpacked/varlobooks-$version-linux-x86_64"
(cd "$work" && run_modeler "$home/bin/modeler" "$home/share/varlobooks/examples" "$work/tar out")
check_python "$home/bin/modeler" "$home/lib/python3/dist-packages" "$work/tar out"
[[ -f $home/share/man/man1/modeler.1 ]] || fail "the tarball has no manual page"

step "the Blender add-on, installed in Blender"
for file in linux-x86_64/libvarlobooks_host.so linux-x86_64/varlobooks.so \
  windows-x64/libvarlobooks_host.dll windows-x64/varlobooks.dll; do
  unzip -l "$addon" "varlobooks/host/native/$file" >/dev/null || fail "the add-on lacks $file"
done
tests/blender/run_addon_test.sh "$source" "$addon" "$home/bin/modeler" "$work/blender" \
  >"$work/blender.log" 2>&1 || fail "the add-on's test in Blender: $(tail -20 "$work/blender.log")"

step "the static page, unzipped and served as files"
unzip -q "$web" -d "$work/web"
page="$work/web/varlobooks-$version-web"
for file in index.html app.js wasm_transport.js varlobooks.js varlobooks.wasm three.module.min.js \
  fflate.js covers/index.json README.txt THIRD_PARTY_NOTICES; do
  [[ -f $page/$file ]] || fail "the web zip lacks $file"
done
scripts/browser.sh
node tools/browser/static_page.js "$page" "$home/bin/modeler" "$home/share/varlobooks/examples/covers" \
  "$work/web out" "$home/lib/python3/dist-packages" >"$work/web.log" 2>&1 ||
  fail "the static page: $(tail -20 "$work/web.log")"

step "the Windows zip, under wine"
unzipped="$work/windows user"
mkdir -p "$unzipped"
unzip -q "$zip" -d "$unzipped"
folder="$unzipped/varlobooks-$version-windows-x64"
scripts/check_dll.sh "$folder/varlobooks.dll" >/dev/null || fail "the DLL's exports or imports"
for file in varlobooks.dll libvarlobooks_host.dll modeler.exe; do
  python3 tools/pe_version.py "$folder/$file" "$version" >/dev/null || fail "$file: its version resource"
done
export WINEDEBUG=-all
wine cmd /c exit >/dev/null 2>&1 || true
(
  cd "$folder"
  reported=$(wine modeler.exe --version | tr -d '\r')
  [[ $reported == "$expected" ]] || fail "modeler.exe --version: $reported"
  summary=$(wine modeler.exe fill --box 0,0,0:1,0.5,0.3 --seed 0 --images 'examples\covers' \
    -o shelf.glb -o shelf.json | tr -d '\r') || fail "modeler.exe fill failed"
  textured "$summary" || fail "modeler.exe gave no cover an image: $summary"
  [[ -s shelf.glb && -s shelf.json ]] || fail "modeler.exe wrote nothing"
)
step "all packages install and run ($source)"
