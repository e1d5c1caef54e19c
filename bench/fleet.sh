#!/usr/bin/env bash
# A fleet on one web server: N agents (200 by default), each with its own data directory, client id
# and EC client certificate, managed over mutual TLS from one local nginx running the repository's
# example site, on a sped-up clock, for M minutes; then SIGINT to every agent. Prints the server's
# load (requests a second, the share of the fleet list's fetches answered 304, bytes sent), the agents' CPU
# share of the machine and resident memory (median and maximum), what is left in their outboxes,
# and compares the results each agent logged with the files on the server: none missing, none extra.
#   bench/fleet.sh [--agents N] [--minutes M] [--time-scale S] [AGENT BINARY]
# Not part of the test suite. Needs nginx and openssl (scripts/setup --tests).
set -euo pipefail
cd "$(dirname "$0")/.."
agents=200 minutes=10 scale=10
while [ $# -gt 0 ]; do
  case "$1" in
    --agents) agents=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --time-scale) scale=$2; shift 2 ;;
    *) break ;;
  esac
done
agent="${1:-build/default/bin/tessra-agent}"
[ -x "$agent" ] || { echo "fleet: build the agent first ($agent)" >&2; exit 2; }
command -v nginx >/dev/null && command -v openssl >/dev/null || { echo "fleet: needs nginx and openssl" >&2; exit 2; }

work=$(mktemp -d /tmp/tessra-fleet-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  [ ! -e "$work/site/nginx.pid" ] || kill "$(cat "$work/site/nginx.pid")" 2>/dev/null || true
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
pki="$work/pki" site="$work/site"
mkdir -p "$pki" "$site/www/fleet" "$work/agents"

echo "fleet: making a CA, the server's certificate and $agents client certificates"
. scripts/lib/nginx-site.sh
make_site_pki "$pki" || { echo "fleet: openssl cannot make the certificates" >&2; exit 1; }
for i in $(seq -f "%04g" 1 "$agents"); do
  make_client_cert "$pki" "fleet-$i" || { echo "fleet: openssl cannot make fleet-$i's certificate" >&2; exit 1; }
done

# The fleet's list: as the built-in one, the computer scanner every 2 minutes, the software
# scanner every 10, the settings watch (a reload) every 5.
job() {
  printf '  <TJob><Identifier>%s</Identifier><DisplayText>%s</DisplayText><ItemKind>11</ItemKind>' "$1" "$2"
  printf '<JobAction Class="TScannerJobAction"><AgentTaskId>%s</AgentTaskId></JobAction>' "$3"
  printf '<StartCondition Class="TStartConditionFacade"><Conditions><Item Class="TStartConditionInterval">'
  printf '<IntervalValue>%s</IntervalValue></Item></Conditions></StartCondition></TJob>\n' "$4"
}
{ echo '<?xml version="1.0" encoding="UTF-8"?>'; echo '<TJobList>'
  job "{6E0C9F43-2B7A-4C55-9E1D-3A8F0B6D2C71}" "Computer scan" "{B3A5474A-E933-4CC0-8567-C80F6591AC19}" 2
  job "{A0316B05-A21A-4E85-AA0E-DB4897B68EEC}" "Software scan" "{072BE601-5372-4618-9A6D-2571D230278E}" 10
  job "{2F8B6C3D-91E4-4A7F-B0D5-C47E18A9F263}" "Settings watch" "{EE727092-AD9C-42F3-B73D-053CAD48C72B}" 5
  echo '</TJobList>'; } >"$site/www/fleet/jobs.xml"

examples="$PWD/packaging/nginx"
site_http() {
  cat <<CONF
  log_format fleet '\$request_method \$uri \$status \$bytes_sent \$request_length';
  access_log $site/logs/access.log fleet;
  include $examples/tessra-client-map.conf;
  server {
    listen 127.0.0.1:$1 ssl;
    ssl_certificate $pki/server.pem; ssl_certificate_key $pki/server.key;
    ssl_client_certificate $pki/ca.pem; ssl_verify_client on;
    root $site/www;
    include $examples/tessra-locations.conf;
  }
CONF
}
start_site_nginx "$site" || port=""
[ -n "$port" ] || { echo "fleet: nginx does not start: $(cat "$site/start.err")" >&2; exit 1; }

echo "fleet: starting $agents agents at time scale $scale for $minutes minutes"
ticks=$(getconf CLK_TCK)
cpu_of() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
start=$(date +%s)
for i in $(seq -f "%04g" 1 "$agents"); do
  "$agent" run --server "https://127.0.0.1:$port/" --ca-file "$pki/ca.pem" \
    --client-cert "$pki/fleet-$i.pem" --client-key "$pki/fleet-$i.key" --client-id "fleet-$i" \
    --data-dir "$work/agents/$i" --time-scale "$scale" --log-level info --log-file "$work/agents/$i.log" \
    >/dev/null 2>&1 &
  pids+=($!)
done
sleep 60
cpu0=0; for p in "${pids[@]}"; do cpu0=$((cpu0 + $(cpu_of "$p"))); done
t0=$(date +%s)
sleep $(( minutes * 60 - 60 ))
cpu1=0; rss=()
for p in "${pids[@]}"; do
  kill -0 "$p" 2>/dev/null || { echo "fleet: agent $p ended early" >&2; exit 1; }
  cpu1=$((cpu1 + $(cpu_of "$p")))
  rss+=("$(awk '/^VmRSS/{print $2}' "/proc/$p/status")")
done
t1=$(date +%s)
for p in "${pids[@]}"; do kill -INT "$p"; done
failed=0; for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
pids=()
elapsed=$(( $(date +%s) - start ))

share=$(awk -v c=$((cpu1 - cpu0)) -v k="$ticks" -v s=$((t1 - t0)) -v n="$(nproc)" 'BEGIN{printf "%.1f", 100 * c / k / s / n}')
read -r median max < <(printf '%s\n' "${rss[@]}" | sort -n | awk '{a[NR]=$1} END{print a[int((NR+1)/2)], a[NR]}')
log="$site/logs/access.log"
requests=$(wc -l <"$log")
# A client without a list of its own asks for it (404) and then for the fleet's.
lists=$(grep -c '^GET /fleet/jobs\.xml ' "$log" || true)
unchanged=$(grep -c '^GET /fleet/jobs\.xml 304 ' "$log" || true)
sent=$(awk '{s += $4} END{print s + 0}' "$log")
received=$(awk '{s += $5} END{print s + 0}' "$log")
puts=$(grep -c '^PUT ' "$log" || true)
refused=$({ grep -E '^[A-Z]+ [^ ]+ [45][0-9][0-9] ' "$log" || true; } | grep -cvE '^GET /clients/[^/]+/(jobs\.xml|cancelled|aborted) 404 ' || true)
left=$(find "$work/agents" -path '*/outbox/*' -maxdepth 3 -type f -not -path '*/failed/*' | wc -l)
missing=0 extra=0 logged=0
for i in $(seq -f "%04g" 1 "$agents"); do
  { grep -oE 'Scanner result: .*\.xml' "$work/agents/$i.log" || true; } | sed 's|.*/||; s|\.xml$||' | sort -u >"$work/logged"
  { find "$site/www/clients/fleet-$i/results" -type f 2>/dev/null || true; } | sed 's|.*/||; s|\.xml$||' | sort -u >"$work/served"
  logged=$((logged + $(wc -l <"$work/logged")))
  missing=$((missing + $(comm -23 "$work/logged" "$work/served" | wc -l)))
  extra=$((extra + $(comm -13 "$work/logged" "$work/served" | wc -l)))
done
echo "fleet: $agents agents, time scale $scale, ${minutes} min (${elapsed} s with start and stop), nginx: 1 worker"
echo "  agents' CPU:      ${share}% of the machine ($(nproc) cores) in the last $((t1 - t0)) s"
echo "  agents' RSS:      median ${median} KiB, maximum ${max} KiB"
echo "  server:           $requests requests, $(awk -v r="$requests" -v s="$elapsed" 'BEGIN{printf "%.1f", r / s}')/s; $lists fetches of the fleet list, $unchanged answered 304 ($(awk -v a="$unchanged" -v b="$lists" 'BEGIN{printf "%.0f", b ? 100 * a / b : 0}')%); $puts PUTs; refused or failed (4xx/5xx but the 404s of lists a client lacks): $refused"
echo "  bytes:            $sent sent by the server, $received received"
echo "  stops:            $failed agents exited non-zero; $left items left in outboxes"
echo "  results:          $logged logged by the agents; $missing missing on the server, $extra extra"
[ "$failed" -eq 0 ] && [ "$left" -eq 0 ] && [ "$missing" -eq 0 ] && [ "$extra" -eq 0 ]
