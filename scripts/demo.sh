#!/usr/bin/env bash
# The demo: installs what is missing, builds the client, the reference OV server and the stand-in game
# server into build/ with the manual pages and changelog the packages hold (nothing else, so a first
# demo waits for no test, and cpack can follow it), starts the OV server on
# 127.0.0.1:4044 (OV_DEMO_PORT sets another port) with the demo configuration, then the client. Closing
# the client stops the server. Arguments go to the client (for example -DEBUG).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${OV_DEMO_BUILD:-build}  # the build folder
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target packaged

address=127.0.0.1
port=${OV_DEMO_PORT:-4044}
data=$build/demo
mkdir -p "$data"
accounts=$data/accounts
log=$data/ovserver.log
server=$build/ovserver/ovserver
config=$build/ovserver/demo.conf

# The demo account (an administrator), made once; its password is hashed into the accounts file like any other.
if ! grep -q '^demo:' "$accounts" 2>/dev/null; then
  printf 'demo\n' | "$server" --config "$config" --accounts "$accounts" --add-user demo --admin
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: the client needs a desktop session (or run it under xvfb-run)." >&2
  exit 1
fi

: >"$log"
"$server" --config "$config" --accounts "$accounts" --listen "$address" --port "$port" 2>"$log" &
server_pid=$!
stop_server() {
  if kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT

# Wait until it listens, or report why it did not.
for _ in $(seq 50); do
  grep -q 'listening on' "$log" && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "The OV server did not start:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done

cat <<TEXT
OV server running on $address:$port (log: $log).
In the client: System > Connect, address $address, port $port; log in as

    login name: demo
    password:   demo

Then System > Start: type "standin" (and "openarena" when Debian's openarena-server is installed),
command line for example: +map e1m1 (for openarena a map it ships: +map oa_dm1)
In the OV server's console window, type help. Closing the client stops the OV server.
TEXT

"$build"/orvane-client "$@"
