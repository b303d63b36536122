#!/usr/bin/env bash
# Runs a command with a real notification daemon (dunst) on the session bus, each notice it receives
# appended to the file named by NOTICE_LOG as "id|summary|body" (a notice updated in place keeps its id).
# Meant to run inside a private session bus on a desktop of its own:
# dbus-run-session -- scripts/with_desktop.sh with_notification_daemon.sh ...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 command [arguments]" >&2; exit 2; }
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "no private session bus: run under dbus-run-session" >&2; exit 2; }
command -v dunst >/dev/null || { echo "dunst is not installed (scripts/deps.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
daemon_pid=""
stop() {
  [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null && wait "$daemon_pid" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT

export NOTICE_LOG="$work/notices"
: >"$NOTICE_LOG"
cat >"$work/log.sh" <<SCRIPT
#!/bin/sh
printf '%s|%s|%s\n' "\$DUNST_ID" "\$2" "\$3" >>"$NOTICE_LOG"
SCRIPT
chmod +x "$work/log.sh"
cat >"$work/dunstrc" <<CONF
[global]
    font = Monospace 8
[log]
    summary = "*"
    script = $work/log.sh
CONF

dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
daemon_pid=$!
# The daemon is up once it owns the service's name on the bus.
owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null | grep -q 'boolean true'
}
for _ in $(seq 100); do
  owned && break
  kill -0 "$daemon_pid" 2>/dev/null || { cat "$work/dunst.log" >&2; exit 1; }
  sleep 0.05
done
owned || { echo "dunst did not take org.freedesktop.Notifications within 5 s" >&2; exit 1; }

set +e
"$@"
status=$?
set -e
exit $status
