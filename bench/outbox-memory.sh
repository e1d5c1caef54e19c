#!/usr/bin/env bash
# The agent's peak memory while its outbox sends a large result, beside the same agent's peak
# without one. Each run starts tessra-agent managed from a local nginx (http on loopback) in a
# fresh data directory; the first finds one result item of SIZE MiB (64 by default) left in its
# outbox by an earlier run, and is stopped once the server holds the whole body; the second has an
# empty outbox and runs as long. Prints each run's peak resident set (VmHWM, as GNU time's %M
# reports it), the item's size and the time the upload took.
#   bench/outbox-memory.sh [SIZE_MIB] [AGENT BINARY]
# Needs nginx (scripts/setup --tests) and GNU time (package time).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-64}"
agent="$(realpath "${2:-build/default/bin/tessra-agent}")"
[ -x "$agent" ] || { echo "outbox-memory: build the agent first ($agent)" >&2; exit 2; }
command -v nginx >/dev/null || { echo "outbox-memory: needs nginx (scripts/setup --tests)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "outbox-memory: needs GNU time (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d /var/tmp/tessra-outbox-XXXXXX)
cleanup() {
  [ ! -e "$work/site/nginx.pid" ] || kill "$(cat "$work/site/nginx.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

site="$work/site"
mkdir -p "$site/www"
. scripts/lib/nginx-site.sh
site_http() {
  cat <<CONF
  server { listen 127.0.0.1:$1; root $site/www; client_max_body_size 0;
           location / { dav_methods PUT; create_full_put_path on; } }
CONF
}
start_site_nginx "$site" || { echo "outbox-memory: nginx does not start" >&2; exit 1; }

# One run of the agent as client ID; prints its peak in KiB once DONE (a command) succeeds, or
# after LIMIT seconds.
run_agent() {
  local id=$1 limit=$2 done_test=$3
  /usr/bin/time -f %M -o "$work/$id.peak" "$agent" run --data-dir "$work/$id" \
    --server "http://127.0.0.1:$port/" --allow-insecure-http --client-id "$id" --log-level warning \
    >"$work/$id.out" 2>&1 &
  local pid=$! waited=0
  while (( waited < limit * 10 )) && ! eval "$done_test"; do sleep 0.1; waited=$((waited + 1)); done
  # GNU time's own pid: the agent is its child and gets the signal through it.
  kill -INT "$(pgrep -P "$pid" -f tessra-agent || echo "$pid")" 2>/dev/null || true
  wait "$pid" || true
  echo "$waited"
}

item="$work/big/outbox/00000000000000000001.result"
mkdir -p "$(dirname "$item")"
printf 'Path: results/bench/big.bin\nContent-Type: application/octet-stream\n\n' >"$item"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >>"$item"
bytes=$((size_mib * 1024 * 1024))
chmod -R go-rwx "$work/big"
sent="$site/www/clients/big/results/bench/big.bin"
tenths=$(run_agent big 300 "[ \"\$(stat -c %s '$sent' 2>/dev/null || echo 0)\" -eq $bytes ]")
[ "$(stat -c %s "$sent" 2>/dev/null || echo 0)" -eq "$bytes" ] ||
  { echo "outbox-memory: the item did not arrive whole" >&2; cat "$work/big.out" >&2; exit 1; }
run_agent idle "$(( tenths / 10 + 1 ))" false >/dev/null

echo "tessra-agent peak memory while its outbox sends one result of ${size_mib} MiB (nginx, loopback)"
printf '  with the item:    %6d KiB peak (upload took %s s)\n' "$(tail -1 "$work/big.peak")" \
  "$(awk -v t="$tenths" 'BEGIN{printf "%.1f", t / 10}')"
printf '  without the item: %6d KiB peak (same run time)\n' "$(tail -1 "$work/idle.peak")"
printf '  the item:         %6d KiB\n' "$(( bytes / 1024 ))"
