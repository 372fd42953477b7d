#!/usr/bin/env bash
# An installed copy works on its own: the build is installed into a temporary prefix, and its
# programs alone make a machine, install the system, run the main job and press HotSync again.
# Every file of the copy must come from the prefix, none from the build folder.
# Usage: installed_copy_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
machine=$work/machine
fail() { echo "FAILED: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log"; fail "cmake --install"; }

for program in sxmachine hotsync outlook sxfolders sxconfigure sxdemo; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not in $prefix/bin"
  version=$("$prefix/bin/$program" --version) || fail "$program --version"
  [[ $version == "$program "[0-9]* ]] || fail "$program --version printed \"$version\""
done
# No run path of the copy leads into the build folder.
while IFS= read -r -d '' file; do
  if readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$file still finds its libraries in the build folder"
  fi
done < <(find "$prefix" -type f -print0)

# The main job, run from the copy.
"$prefix/bin/sxdemo" "$machine" >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "sxdemo"; }
grep -q "=== After the HotSync" "$work/demo.log" || fail "the demo printed no HotSync"
grep -qF "$prefix/bin/sxmachine --machine" "$work/demo.log" ||
  { cat "$work/demo.log"; fail "the demo's hints do not name the installed programs"; }

# What the machine was given came from the copy: HotSync.exe starts the installed hotsync, and the
# files set up on drive C: are the installed ones (the build's differ in their run paths).
grep -qF "$prefix/bin/hotsync" "$machine/drive_c/Program Files/Palm/HotSync.exe" ||
  fail "HotSync.exe does not start the installed hotsync"
cmp -s "$prefix/lib/scribbix/SXOut.so" "$machine/drive_c/Program Files/Palm/SXOut.dll" ||
  fail "the conduit on the machine is not the installed one"
cmp -s "$prefix/lib/scribbix/ScribbixOut.so" \
  "$machine/drive_c/Program Files/Vorlan/Scribbix/ScribbixOut.dll" ||
  fail "ScribbixOut on the machine is not the installed one"
cmp -s "$prefix/share/scribbix/SXUpdate.pst" \
  "$machine/drive_c/Program Files/Vorlan/Scribbix/SXUpdate.pst" ||
  fail "SXUpdate.pst on the machine is not the installed one"

# HotSync again, and a preview (the worker lives in libexec), with the installed programs.
"$prefix/bin/sxmachine" --machine "$machine" hotsync sync "Ana Lopez" >"$work/sync.log" 2>&1 ||
  { cat "$work/sync.log"; fail "a second HotSync"; }
"$prefix/bin/hotsync" --machine "$machine" --preview "Ana Lopez" >"$work/preview.log" 2>&1 ||
  { cat "$work/preview.log"; fail "the preview"; }
"$prefix/bin/sxconfigure" --machine "$machine" check >"$work/check.log" 2>&1 ||
  { cat "$work/check.log"; fail "sxconfigure check"; }
echo "The installed copy at $prefix synchronised on its own."
