#!/usr/bin/env bash
# The agent's start with a large job list: the time from exec to the end of the first turn.
#   bench/start-time.sh [JOBS] [RUNS] [AGENT BINARY]
# Generates a data directory and a jobs file with JOBS automatic jobs (10,000 by default) of mixed
# start conditions (daily, weekdays, interval, once, delay, shutdown), none of them due, and one job
# due at agent start. A first run (not timed) lets the agent write the condition storage of every
# job, as an agent that has run before has it. Then RUNS timed starts (5 by default) on that data.
# The first turn is over when its dispatch hands the agent-start job to a processor: the console
# line "handed to a processor" for it. The script takes the time before the exec and when that line
# arrives, and prints each run and the median.
# Build the agent with the Release preset first: cmake --build --preset bench --target tessra-agent
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${1:-10000}"
runs="${2:-5}"
agent="${3:-build/bench/bin/tessra-agent}"
[ -x "$agent" ] || { echo "start-time: build the agent first ($agent)" >&2; exit 2; }

work=$(mktemp -d /tmp/tessra-start-XXXXXX)
trap 'rm -rf "$work"' EXIT
data="$work/data"
jobs_file="$work/jobs.xml"

# Times of day and the once date that lie far from now, so that nothing but the marker job is due.
now_hour=$(date +%-H)
far_time_of_day=$(( ((now_hour + 12) % 24) * 3600 ))
far_date=$(( $(date -ud 2099-01-01 +%s) / 86400 + 25569 ))  # days since 30 December 1899
computer_scanner="{B3A5474A-E933-4CC0-8567-C80F6591AC19}"
last_user_scanner="{7D9556ED-EA9D-433B-B195-5ED49A47AF14}"

awk -v count="$jobs" -v tod="$far_time_of_day" -v far="$far_date" \
    -v marker_task="$computer_scanner" -v task="$last_user_scanner" '
function job_head(id, name, order) {
  printf "  <TJob>\n    <Identifier>{%s}</Identifier>\n    <DisplayText>%s</DisplayText>\n", id, name
  printf "    <Order>%d</Order>\n    <ItemKind>11</ItemKind>\n", order
}
function job_tail(agent_task) {
  printf "    <JobAction Class=\"TScannerJobAction\"><AgentTaskId>%s</AgentTaskId></JobAction>\n", agent_task
  printf "    <StartCondition Class=\"TStartConditionFacade\"><Conditions>\n%s    </Conditions></StartCondition>\n  </TJob>\n", conditions
}
BEGIN {
  print "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
  print "<TJobList>"
  job_head("00000000-0000-4000-8000-000000000000", "Start marker", 0)
  conditions = "      <Item Class=\"TStartConditionOnAgentStart\" />\n"
  job_tail(marker_task)
  for (i = 1; i <= count; i++) {
    kind = i % 6
    if (kind == 0)
      conditions = sprintf("      <Item Class=\"TStartConditionDaily\"><MaxSplaySeconds>1800</MaxSplaySeconds><TimeOfDay>%d</TimeOfDay></Item>\n", tod + (i % 60) * 60)
    else if (kind == 1)
      conditions = sprintf("      <Item Class=\"TStartConditionDaily\"><TimeOfDay>%d</TimeOfDay><WeekDays>62</WeekDays></Item>\n      <Item Class=\"TStartConditionOnShutdown\" />\n", tod)
    else if (kind == 2)
      conditions = sprintf("      <Item Class=\"TStartConditionInterval\"><MaxSplaySeconds>300</MaxSplaySeconds><IntervalValue>%d</IntervalValue><IntervalUnit>1</IntervalUnit></Item>\n", 6 + i % 18)
    else if (kind == 3)
      conditions = sprintf("      <Item Class=\"TStartConditionOnce\"><StartTime>%d.5</StartTime></Item>\n", far + i % 30)
    else if (kind == 4)
      conditions = "      <Item Class=\"TStartConditionOnDelay\"><DelayValue>10</DelayValue><ValueUnit>1</ValueUnit></Item>\n"
    else
      conditions = sprintf("      <Item Class=\"TStartConditionDaily\"><TimeOfDay>%d</TimeOfDay></Item>\n      <Item Class=\"TStartConditionInterval\"><IntervalValue>%d</IntervalValue><IntervalUnit>1</IntervalUnit></Item>\n", tod, 8 + i % 12)
    job_head(sprintf("%08X-0000-4000-8000-%012X", i, i), "Job " i, i % 7)
    job_tail(task)
  }
  print "</TJobList>"
}' > "$jobs_file"

# Starts the agent, stops it at the end of its first turn; prints the milliseconds to that moment.
start_once() {
  local fifo="$work/fifo" t0 t1="" line pid
  rm -f "$fifo"
  mkfifo "$fifo"
  t0=$EPOCHREALTIME
  "$agent" run --data-dir "$data" --jobs "$jobs_file" --log-level warning >"$fifo" 2>"$work/err" &
  pid=$!
  # Read to the end, so that the agent's last lines find a reader.
  while IFS= read -r line; do
    if [[ -z "$t1" && "$line" == *"handed to a processor"*"Start marker"* ]]; then
      t1=$EPOCHREALTIME
      kill -INT "$pid"
    fi
  done <"$fifo"
  wait "$pid" || true
  [ -n "$t1" ] || { echo "start-time: the agent ended before its first turn" >&2; cat "$work/err" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.1f", (b - a) * 1000}'
}

echo "tessra-agent start with $jobs jobs in its jobs file ($(du -h "$jobs_file" | cut -f1)), $agent"
start_once >/dev/null
echo "  condition storage written by the first run: $(du -h "$data/Orvane/Tessra/AgentTasks/ConditionStorage.xml" | cut -f1)"
results=()
for (( r = 1; r <= runs; r++ )); do
  ms=$(start_once)
  results+=("$ms")
  echo "  run $r: ${ms} ms from exec to the end of the first turn"
done
median=$(printf '%s\n' "${results[@]}" | sort -n | awk '{a[NR] = $1} END{print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}')
echo "median: ${median} ms (goal: under 200 ms)"
