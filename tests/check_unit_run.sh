#!/bin/sh
# Runs the service unit's command by hand, as systemd would start it, with
# NOTIFY_SOCKET pointing at a datagram socket of this script's, and checks
# that the runner tells READY=1 and then WATCHDOG=1. Its controller takes the
# connection and never answers, so the runner stays up for its --timeout.
#   check_unit_run.sh UNIT RUNNER WORK_DIR
set -eu
unit=$1
runner=$2
work=$3

fail() {
    echo "check_unit_run: $*" >&2
    exit 1
}

for tool in socat curl; do
    command -v $tool >/dev/null || fail "$tool is missing (scripts/setup installs it)"
done

mkdir -p "$work/etc/zyl-test-run"
# What an earlier run heard must not pass this one.
rm -f "$work/heard" "$work/notify"
printf 'IP=127.0.0.1\nPort=1\nRead Temp=[0A!?rt]\n' >"$work/etc/zyl-test-run/site.tst"
# Below the system's range for outgoing connections, which a listener check misses.
port=$((10000 + $$ % 20000))
controller=$((port + 1))
printf '127.0.0.1:%s\n' $controller >"$work/etc/zyl-test-run/site.hosts"
command=$(sed -n 's/^ExecStart=//p' "$unit" |
    sed -e "s|/usr/bin/zyl-test-run|$runner|" -e "s|/etc/zyl-test-run|$work/etc/zyl-test-run|g" \
        -e 's|%i|site|g' -e "s|\${ZYL_METRICS}|127.0.0.1:$port|" -e 's|\$ZYL_OPTIONS||')
[ -n "$command" ] || fail "the unit has no ExecStart"

socat -u "TCP-LISTEN:$controller,bind=127.0.0.1,reuseaddr" /dev/null &
controller_pid=$!

socat -u "UNIX-RECV:$work/notify" "OPEN:$work/heard,creat,append" &
listener=$!
trap 'kill $listener $controller_pid 2>/dev/null || true; [ -z "${run:-}" ] || kill $run 2>/dev/null || true' EXIT
tries=0
until [ -S "$work/notify" ]; do
    tries=$((tries + 1))
    [ $tries -lt 50 ] || fail "socat made no socket"
    sleep 0.1
done

# A 2 s watchdog: WATCHDOG=1 comes once a second.
# shellcheck disable=SC2086 # the command's words, as systemd splits them
NOTIFY_SOCKET=$work/notify WATCHDOG_USEC=2000000 $command >"$work/out" 2>&1 &
run=$!
tries=0
until grep -q '^WATCHDOG=1' "$work/heard" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -ge 100 ] || ! kill -0 $run 2>/dev/null; then
        cat "$work/out" >&2
        fail "no WATCHDOG=1 within 10 s; heard: $(cat "$work/heard" 2>/dev/null)"
    fi
    sleep 0.1
done
grep -q '^READY=1' "$work/heard" || fail "WATCHDOG=1 without READY=1 first"
[ "$(grep -n -m1 '^READY=1' "$work/heard" | cut -d: -f1)" -lt \
  "$(grep -n -m1 '^WATCHDOG=1' "$work/heard" | cut -d: -f1)" ] || fail "READY=1 came after WATCHDOG=1"
curl -sf "http://127.0.0.1:$port/metrics" | grep -q '^zyl_up{' || fail "no zyl_up at 127.0.0.1:$port/metrics"
kill $run
echo "check_unit_run: the unit's command told READY=1 and WATCHDOG=1 and served its metrics"
