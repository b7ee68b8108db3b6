#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the agent against the local
# environment with a fresh storage folder. Without a display the agent runs headless and
# prints what it did.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/storage"

./build/bin/invara-desktop-manager -headless -localtest "-storage=$work/storage" "$@"
