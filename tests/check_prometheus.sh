#!/bin/sh
# A real Prometheus scraping a runner that drives three simulated
# controllers: one answering, one whose temperature reading is out of range,
# one that resets the connection. Within 60 s Prometheus must hold zyl_up
# and zyl_check_success as they are.
#   check_prometheus.sh RUNNER CONTROLLER_SIM EXAMPLES WORK_DIR
set -eu
runner=$1
sim=$2
examples=$3
work=$4

fail() {
    echo "check_prometheus: $*" >&2
    exit 1
}
command -v prometheus >/dev/null || {
    echo "check_prometheus: skipped, prometheus is missing (scripts/setup installs it)"
    exit 77
}
for tool in curl ss; do
    command -v $tool >/dev/null || fail "$tool is missing (scripts/setup installs it)"
done

# A port no socket uses, below the system's range for outgoing connections
# (from 32768), from a range of this process's own.
free_port() {
    candidate=$((10000 + ($$ * 7 + $1) % 20000))
    while [ -n "$(ss -Hatn "sport = :$candidate")" ]; do candidate=$((candidate + 1)); done
    echo $candidate
}

rm -rf "$work"
mkdir -p "$work/data"
cp "$examples/default1.tst" "$examples/default1.checks.toml" "$work/"
pids=""
trap 'kill $pids 2>/dev/null || true' EXIT
# Starts a controller named for this script and lists it in site.hosts.
start_sim() {
    name=$1
    shift
    : >"$work/$name.sim"
    "$sim" --port 0 --quiet "$@" >"$work/$name.sim" &
    pids="$pids $!"
    tries=0
    until grep -q '^listening on ' "$work/$name.sim"; do
        tries=$((tries + 1))
        [ $tries -lt 50 ] || fail "the $name controller did not listen"
        sleep 0.1
    done
    sed -n 's/^listening on //p' "$work/$name.sim" >>"$work/site.hosts"
}
start_sim good
start_sim wrong --wrong-reading
start_sim resetting --reset-after 15
good=$(sed -n 1p "$work/site.hosts")
wrong=$(sed -n 2p "$work/site.hosts")
resetting=$(sed -n 3p "$work/site.hosts")
metrics=$(free_port 0)
# Redialling, it sees the resetting one come back.
"$runner" --cycles 0 --quiet --reconnect --metrics "127.0.0.1:$metrics" --hosts "$work/site.hosts" \
    "$work/default1.tst" >"$work/runner.out" 2>&1 &
pids="$pids $!"
web=$(free_port 1)
cat >"$work/prometheus.yml" <<END
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: zyl
    static_configs:
      - targets: ["127.0.0.1:$metrics"]
END
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$web" >"$work/prometheus.out" 2>&1 &
pids="$pids $!"

# Whether the query has a result: each below holds only when the value is right.
holds() {
    curl -sf -G "http://127.0.0.1:$web/api/v1/query" --data-urlencode "query=$1" |
        grep -q '"result":\[{'
}
expected() {
    holds "zyl_up{controller=\"$good\"} == 1" &&
        holds "zyl_up{controller=\"$wrong\"} == 1" &&
        holds "zyl_up{controller=\"$resetting\"} == 1" &&
        holds "zyl_check_success{controller=\"$good\",item=\"Read Temp\"} == 1" &&
        holds "zyl_check_success{controller=\"$wrong\",item=\"Read Temp\"} == 0" &&
        holds "zyl_check_success{controller=\"$wrong\",item=\"Read Firmware\"} == 1" &&
        holds "zyl_outages_total{controller=\"$resetting\"} >= 1"
}
tries=0
until expected; do
    tries=$((tries + 1))
    if [ $tries -ge 60 ]; then
        tail -n 5 "$work/runner.out" "$work/prometheus.out" >&2
        curl -s "http://127.0.0.1:$metrics/metrics" | grep -E '^zyl_(up|check_success|outages)' >&2
        fail "Prometheus did not see zyl_up and zyl_check_success as expected within 60 s"
    fi
    sleep 1
done
echo "check_prometheus: Prometheus saw zyl_up and zyl_check_success as expected after ${tries} s"
