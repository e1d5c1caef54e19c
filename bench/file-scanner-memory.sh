#!/usr/bin/env bash
# The File Scanner's peak memory over generated trees, beside a bare walk of the same tree.
#   bench/file-scanner-memory.sh [SIZES] [AGENT BINARY]
# SIZES is a list of file counts ("10000 100000 200000" by default). For each, the script makes a
# tree of that many small files (100 files a folder, folders three levels deep), then runs
#   tessra-agent run-task "File Scanner" --path TREE
# and `find TREE -type f` (the bare walk), and prints each one's peak resident set (VmHWM, as GNU
# time's %M reports it), the document's size and the time taken.
# Needs python3 (to make the trees) and GNU time (package time). Build the agent first:
#   cmake --build --preset bench --target tessra-agent
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="${1:-10000 100000 200000}"
agent="$(realpath "${2:-build/bench/bin/tessra-agent}")"
[ -x "$agent" ] || { echo "file-scanner-memory: build the agent first ($agent)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "file-scanner-memory: needs python3" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "file-scanner-memory: needs GNU time (apt-get install time)" >&2; exit 2; }

work=$(mktemp -d /var/tmp/tessra-scan-XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$agent" "$work" $sizes <<'PY'
import os, subprocess, sys, time
agent, work, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]

def make_tree(root, count):
    per_dir = 100
    for i in range(count):
        d = os.path.join(root, f"a{i // 100000:02d}", f"b{i // 10000 % 10:02d}", f"c{i // per_dir % 100:03d}")
        if i % per_dir == 0:
            os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, f"file-{i:07d}.dat"), "w") as f:
            f.write("x" * (i % 64))

def peak_of(args):
    # GNU time is a small program of its own: a fork of this one would count Python's memory.
    start = time.monotonic()
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + args, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True, check=True)
    return int(out.stderr.strip().splitlines()[-1]), time.monotonic() - start

print(f"{'files':>8} {'agent peak':>11} {'bare walk':>10} {'document':>10} {'agent time':>11}")
for count in sizes:
    tree = os.path.join(work, f"tree-{count}")
    data = os.path.join(work, f"data-{count}")
    make_tree(tree, count)
    agent_kb, seconds = peak_of([agent, "run-task", "File Scanner", "--path", tree, "--data-dir", data,
                                 "--log-level", "error"])
    walk_kb, _ = peak_of(["find", tree, "-type", "f"])
    results = os.path.join(data, "results", "File Scanner")
    doc = max((os.path.join(results, n) for n in os.listdir(results)), key=os.path.getsize)
    print(f"{count:>8} {agent_kb / 1024:>9.1f} MB {walk_kb / 1024:>7.1f} MB "
          f"{os.path.getsize(doc) / 1e6:>7.1f} MB {seconds:>9.2f} s")
PY
