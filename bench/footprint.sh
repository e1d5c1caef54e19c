#!/usr/bin/env bash
# The idle footprint of the running agent: starts tessra-agent on the built-in job list, on the real
# clock, in a fresh data directory, lets it run (600 s by default), and reports its resident
# memory, the CPU time it used and how often its threads woke up.
#   bench/footprint.sh [SECONDS] [AGENT BINARY]
# Wake-ups are the context switches of all its threads (voluntary: the thread slept and was woken;
# involuntary: it was preempted), counted from /proc between the first minute and the end, so that
# the scans at start do not count as idling.
set -euo pipefail
cd "$(dirname "$0")/.."
duration="${1:-600}"
agent="${2:-build/default/bin/tessra-agent}"
warmup=$(( duration >= 120 ? 60 : duration / 4 ))
[ -x "$agent" ] || { echo "footprint: build the agent first ($agent)" >&2; exit 2; }

data=$(mktemp -d /tmp/tessra-footprint-XXXXXX)
"$agent" run --data-dir "$data" --log-level warning >"$data.out" 2>&1 &
pid=$!
trap 'kill -INT $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; rm -rf "$data" "$data.out"' EXIT

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
switches() {
  local v=0 n=0
  for s in /proc/$pid/task/*/status; do
    read -r a b < <(awk '/^voluntary_ctxt_switches/{v=$2} /^nonvoluntary_ctxt_switches/{n=$2} END{print v, n}' "$s" 2>/dev/null || echo "0 0")
    v=$((v + a)); n=$((n + b))
  done
  echo "$v $n"
}
rss_kib() { awk '/^VmRSS/{print $2}' "/proc/$pid/status"; }
threads() { ls "/proc/$pid/task" | wc -l; }

sleep "$warmup"
read -r v0 n0 < <(switches)
c0=$(cpu_ticks)
peak=0
for (( t = warmup; t < duration; t += 10 )); do
  sleep 10
  kill -0 $pid 2>/dev/null || { echo "footprint: the agent ended early" >&2; cat "$data.out" >&2; exit 1; }
  r=$(rss_kib); (( r > peak )) && peak=$r
done
read -r v1 n1 < <(switches)
c1=$(cpu_ticks)
idle=$(( duration - warmup ))
total_cpu=$(awk -v t="$c1" -v k="$ticks" 'BEGIN{printf "%.2f", t / k}')
idle_cpu=$(awk -v a="$c0" -v b="$c1" -v k="$ticks" 'BEGIN{printf "%.2f", (b - a) / k}')
echo "tessra-agent footprint over ${duration} s (idle window: the last ${idle} s), built-in job list, real clock"
echo "  resident memory: $(rss_kib) KiB now, ${peak} KiB peak"
echo "  threads:         $(threads)"
echo "  CPU time:        ${total_cpu} s in all, ${idle_cpu} s in the idle window ($(awk -v c="$idle_cpu" -v d="$idle" 'BEGIN{printf "%.3f", 100 * c / d}') % of a core)"
echo "  wake-ups:        $(awk -v a="$v0" -v b="$v1" -v d="$idle" 'BEGIN{printf "%.2f", (b - a) / d}')/s voluntary, $(awk -v a="$n0" -v b="$n1" -v d="$idle" 'BEGIN{printf "%.2f", (b - a) / d}')/s involuntary"
