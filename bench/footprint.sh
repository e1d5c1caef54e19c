#!/usr/bin/env bash
# The idle footprint of the running agent: starts tessra-agent on the built-in job list, on the real
# clock, in a fresh data directory, lets it run (600 s by default), and reports its resident
# memory, the CPU time it used and how often its threads woke up.
#   bench/footprint.sh [SECONDS] [AGENT BINARY]
#   bench/footprint.sh --server [SECONDS] [AGENT BINARY]
# With --server, two agents run side by side on one job list (the computer scanner every 2 minutes,
# the settings watch every 5): one on the built-in stand-in (--jobs), one managed from a local nginx
# over http on loopback, so that the link's cost is read beside the stand-in's in the same run,
# with the server's fetches and how many were answered 304.
# Wake-ups are the context switches of all its threads (voluntary: the thread slept and was woken;
# involuntary: it was preempted), counted from /proc between the first minute and the end, so that
# the scans at start do not count as idling.
set -euo pipefail
cd "$(dirname "$0")/.."
server=0
[ "${1:-}" != "--server" ] || { server=1; shift; }
duration="${1:-600}"
agent="${2:-build/default/bin/tessra-agent}"
warmup=$(( duration >= 120 ? 60 : duration / 4 ))
[ -x "$agent" ] || { echo "footprint: build the agent first ($agent)" >&2; exit 2; }

work=$(mktemp -d /tmp/tessra-footprint-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  [ ! -e "$work/site/nginx.pid" ] || kill "$(cat "$work/site/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

names=() 
if [ "$server" -eq 0 ]; then
  "$agent" run --data-dir "$work/data" --log-level warning >"$work/agent.out" 2>&1 &
  pids+=($!); names+=("built-in job list")
else
  command -v nginx >/dev/null || { echo "footprint: --server needs nginx (scripts/setup --tests)" >&2; exit 2; }
  cat >"$work/jobs.xml" <<'JOBS'
<?xml version="1.0" encoding="UTF-8"?>
<TJobList>
  <TJob><Identifier>{2F8B6C3D-91E4-4A7F-B0D5-C47E18A9F263}</Identifier><DisplayText>Settings watch</DisplayText>
    <ItemKind>11</ItemKind><JobAction Class="TScannerJobAction"><AgentTaskId>{EE727092-AD9C-42F3-B73D-053CAD48C72B}</AgentTaskId></JobAction>
    <StartCondition Class="TStartConditionFacade"><Conditions><Item Class="TStartConditionInterval"><IntervalValue>5</IntervalValue></Item></Conditions></StartCondition></TJob>
  <TJob><Identifier>{6E0C9F43-2B7A-4C55-9E1D-3A8F0B6D2C71}</Identifier><DisplayText>Computer scan</DisplayText>
    <ItemKind>11</ItemKind><JobAction Class="TScannerJobAction"><AgentTaskId>{B3A5474A-E933-4CC0-8567-C80F6591AC19}</AgentTaskId></JobAction>
    <StartCondition Class="TStartConditionFacade"><Conditions><Item Class="TStartConditionInterval"><IntervalValue>2</IntervalValue></Item></Conditions></StartCondition></TJob>
</TJobList>
JOBS
  site="$work/site"
  mkdir -p "$site/www/fleet"
  cp "$work/jobs.xml" "$site/www/fleet/jobs.xml"
  . scripts/lib/nginx-site.sh
  site_http() {
    cat <<CONF
  log_format plain '\$request_method \$request_uri \$status';
  access_log $site/logs/access.log plain;
  server { listen 127.0.0.1:$1; root $site/www;
           location / { dav_methods PUT; create_full_put_path on; } }
CONF
  }
  start_site_nginx "$site" || port=""
  [ -n "$port" ] || { echo "footprint: nginx does not start" >&2; exit 1; }
  "$agent" run --data-dir "$work/standin" --jobs "$work/jobs.xml" --log-level warning >"$work/standin.out" 2>&1 &
  pids+=($!); names+=("stand-in (--jobs)")
  "$agent" run --data-dir "$work/linked" --server "http://127.0.0.1:$port/" --allow-insecure-http \
    --client-id footprint --log-level warning >"$work/linked.out" 2>&1 &
  pids+=($!); names+=("server link (--server)")
fi

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
switches() {
  local v=0 n=0
  for s in /proc/$1/task/*/status; do
    read -r a b < <(awk '/^voluntary_ctxt_switches/{v=$2} /^nonvoluntary_ctxt_switches/{n=$2} END{print v, n}' "$s" 2>/dev/null || echo "0 0")
    v=$((v + a)); n=$((n + b))
  done
  echo "$v $n"
}
rss_kib() { awk '/^VmRSS/{print $2}' "/proc/$1/status"; }

sleep "$warmup"
declare -a v0 n0 c0 peak
for i in "${!pids[@]}"; do
  read -r v0[i] n0[i] < <(switches "${pids[i]}")
  c0[i]=$(cpu_ticks "${pids[i]}"); peak[i]=0
done
for (( t = warmup; t < duration; t += 10 )); do
  sleep 10
  for i in "${!pids[@]}"; do
    kill -0 "${pids[i]}" 2>/dev/null || { echo "footprint: an agent ended early" >&2; cat "$work"/*.out >&2; exit 1; }
    r=$(rss_kib "${pids[i]}"); (( r > peak[i] )) && peak[i]=$r
  done
done
idle=$(( duration - warmup ))
echo "tessra-agent footprint over ${duration} s (idle window: the last ${idle} s), real clock"
for i in "${!pids[@]}"; do
  p=${pids[i]}
  read -r v1 n1 < <(switches "$p")
  c1=$(cpu_ticks "$p")
  echo "${names[i]}:"
  echo "  resident memory: $(rss_kib "$p") KiB now, ${peak[i]} KiB peak"
  echo "  threads:         $(ls "/proc/$p/task" | wc -l)"
  echo "  CPU time:        $(awk -v t="$c1" -v k="$ticks" 'BEGIN{printf "%.2f", t / k}') s in all, $(awk -v a="${c0[i]}" -v b="$c1" -v k="$ticks" 'BEGIN{printf "%.2f", (b - a) / k}') s in the idle window"
  echo "  wake-ups:        $(awk -v a="${v0[i]}" -v b="$v1" -v d="$idle" 'BEGIN{printf "%.2f", (b - a) / d}')/s voluntary, $(awk -v a="${n0[i]}" -v b="$n1" -v d="$idle" 'BEGIN{printf "%.2f", (b - a) / d}')/s involuntary"
done
if [ "$server" -eq 1 ]; then
  gets=$(grep -c '^GET /fleet/jobs.xml' "$site/logs/access.log" || true)
  unchanged=$(grep -c '^GET /fleet/jobs.xml 304' "$site/logs/access.log" || true)
  echo "server: $gets fetches of the job list, $unchanged answered 304; the link's own count:"
  "$agent" ctl --data-dir "$work/linked" status | sed -n '/^Server:/,$p'
fi
