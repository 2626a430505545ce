#!/usr/bin/env bash
# ./dev run: the tool built against the local demo platform, both started; the platform stops
# when the tool exits. ./dev run-real: the tool built for the real platform root, started.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
port=${ROOMVIEW_DEMO_PORT:-8765}

case $mode in
  run)
    cmake --preset release -DROOMVIEW_PLATFORM_ROOT="http://127.0.0.1:${port}/" >/dev/null
    cmake --build --preset release --target roomview
    python3 tools/demo_platform.py --port "$port" &
    server=$!
    trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
    echo "type any room identifier, press the button; Esc closes the window"
    build/release/app/roomview
    ;;
  run-real)
    root=${ROOMVIEW_PLATFORM_ROOT:-http://live.example.com/}
    cmake --preset release -DROOMVIEW_PLATFORM_ROOT="$root" >/dev/null
    cmake --build --preset release --target roomview
    exec build/release/app/roomview
    ;;
  *)
    echo "usage: tools/run.sh run|run-real" >&2
    exit 2
    ;;
esac
