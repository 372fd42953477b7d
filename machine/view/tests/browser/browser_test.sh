#!/usr/bin/env bash
# A person at the machine's page in a real browser (headless Chromium driven by puppeteer-core):
#   browser_test.sh SXMACHINE SXFOLDERS SXCONFIGURE SCRIPT_DIR hotsync|status [SCREENSHOT]
# makes a fresh machine in a temporary folder, serves it with `sxmachine view`, runs page_story.mjs
# and checks both sides afterwards with the system's own readers. Exit 77 (skipped) when Chromium,
# node or puppeteer-core is missing; .ci/run installs them.
set -euo pipefail
sxmachine=$1 sxfolders=$2 sxconfigure=$3 here=$4 story=$5 screenshot=${6:-}
chromium=${SX_CHROMIUM:-$(command -v chromium || true)}
modules=${SX_PUPPETEER_MODULES:-$here/../../../../build/browser-node/node_modules}
if [ -z "$chromium" ] || ! command -v node >/dev/null || [ ! -d "$modules/puppeteer-core" ]; then
  echo "skipped: needs chromium, node and puppeteer-core in $modules (.ci/run installs them)"
  exit 77
fi

work=$(mktemp -d)
server=
screen=
finish() {
  [ -n "$screen" ] && kill "$screen" 2>/dev/null || true
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
machine=$work/machine
user="Jo Smith"
"$sxmachine" create "$machine" >/dev/null
"$sxmachine" --machine "$machine" system install --user "$user" >/dev/null

"$sxmachine" --machine "$machine" view >"$work/view.txt" 2>&1 </dev/null &
server=$!
for _ in $(seq 1 200); do
  grep -q "token=" "$work/view.txt" 2>/dev/null && break
  sleep 0.05
done
url=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$work/view.txt")

if [ "$story" = status ]; then
  # The configuration program's status screen, under the web host while the page is open.
  # It starts once the page is open (the server's marker is there), as a person would.
  (for _ in $(seq 1 600); do [ -f "$machine/view/page" ] && break; sleep 0.05; done
   SX_WINDOW_HOST=web exec "$sxconfigure" --machine "$machine" screen) \
    >"$work/configure.txt" 2>&1 </dev/null &
  screen=$!
fi

SX_PUPPETEER_MODULES=$modules node "$here/page_story.mjs" "$url" "$chromium" "$story" "$screenshot"

if [ "$story" = hotsync ]; then
  # Both sides, read with the system's own tools: the desktop's value won the conflict.
  handheld=$("$sxmachine" --machine "$machine" handheld "$user" list)
  outlook=$("$sxfolders" --machine "$machine" items 'Vorlan\Scribbix')
  for side in "$handheld" "$outlook"; do
    if ! grep -q "Meeting at 12 (Outlook)" <<<"$side" || grep -q "Meeting at 11" <<<"$side"; then
      echo "FAILED: a side does not hold the desktop's value:"
      echo "$side"
      exit 1
    fi
  done
fi
if [ "$story" = status ]; then
  wait "$screen" || true
  screen=
fi
echo "passed: $story"
