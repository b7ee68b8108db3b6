#!/usr/bin/env bash
# The main job: installs what is missing, builds, then runs the whole system on this machine:
# the local service with its demo scenario, the QuickBooks stand-in with the demo company file
# open, and the agent with a fresh storage folder holding the demo biller, which it
# synchronises. Without a display the agent runs headless and prints what it did.
# With --new the storage folder starts empty, as on a fresh install: the window opens the Add
# Biller wizard (enrol user "demo", password "demo"); without a display the demo account is
# enrolled headless (-addbiller) and then synchronised.
set -euo pipefail
new=0
if [ "${1:-}" = "--new" ]; then
  new=1
  shift
fi
cd "$(dirname "$0")/.."
bash scripts/build.sh
bin=$PWD/build/bin

work=$(mktemp -d)
service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export INVARA_QB_HOME="$work/quickbooks"
"$bin/invara-qbsim" demo

"$bin/invara-testservice" --port 0 >"$work/service.out" 2>"$work/service.log" &
service_pid=$!
for _ in $(seq 1 100); do
  grep -q "listening" "$work/service.out" 2>/dev/null && break
  sleep 0.1
done
url=$(grep -o 'http://[^ ]*' "$work/service.out" | head -n 1)
[ -n "$url" ] || { echo "the local service did not start"; cat "$work/service.log"; exit 1; }
echo "Local service at $url"

mkdir -p "$work/storage"
if [ "$new" = 0 ]; then
  # The demo biller: user "demo", password "demo" (stored encoded, as the agent stores it).
  cat >"$work/storage/invdesk.xml" <<'XML'
<?xml version="1.0"?><mvt><businesslist><business><type>qbd</type><name>Demo Co</name><id>1001</id><username>demo</username><token>313931-303151-3153</token></business></businesslist></mvt>
XML
fi

status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # With a display the window opens; its Sync button synchronises the demo biller.
  [ "$new" = 1 ] && echo "A fresh start: the Add Biller wizard opens; enrol user demo, password demo."
  echo "Starting the window; close it with File > Exit."
  "$bin/invara-desktop-manager" -localtest "-baseurl=$url" "-storage=$work/storage" "$@" || status=$?
else
  if [ "$new" = 1 ]; then
    echo demo | "$bin/invara-desktop-manager" -headless -addbiller -user=demo -localtest "-baseurl=$url" \
      "-storage=$work/storage" "$@" || exit $?
  fi
  "$bin/invara-desktop-manager" -headless -syncall -localtest "-baseurl=$url" "-storage=$work/storage" "$@" || status=$?
fi
if [ -f "$work/storage/log.txt" ]; then
  echo
  echo "Activity log ($work/storage/log.txt), first lines:"
  head -n 12 "$work/storage/log.txt" | cut -c1-160
fi
exit $status
