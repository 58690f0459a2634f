#!/bin/sh
# Where the wall time of one headless grab goes when the server, the delay
# proxy and Pixtrawl share the machine's cores: the grab thread's time on a
# core, asleep (waiting for the server) and ready but kept off the cores by
# others, and each program's processor time, all between the grab's start and
# end marks. Needs perf and the rights to trace the whole machine (root).
# With --limit-once first, the same for one run of the limit client, whose
# thread then stands where the grab thread does.
#   bench/cpu_share.sh [build folder, default build] [--limit-once] [latency_bench options, e.g. --delay 20 --group G]
set -eu
tracer=perf
tracer_package=linux-perf
# shellcheck source=bench/grab_once_setup.sh
. "$(dirname "$0")/grab_once_setup.sh"
once=--grab-once
if [ "${1:-}" = --limit-once ]; then
    once=--limit-once
    shift
fi
data=$(mktemp)
marks=$(mktemp)
switches=$(mktemp)
trap 'rm -f "$data" "$marks" "$switches"' EXIT
# Every switch on every core: a thread's return to a core is recorded in the
# context of whatever ran before it, often another program.
perf record -q -a -e sched:sched_switch -k CLOCK_MONOTONIC -o "$data" -- "$bench" "$once" "$@" 2>"$marks" |
    grep '^walked' || true
perf script -i "$data" -F pid,tid,cpu,time,trace 2>/dev/null >"$switches"
python3 - "$marks" "$switches" <<'EOF'
import collections, re, sys

marks = open(sys.argv[1]).read()
begin = re.search(r'grab begins at ([\d.]+)', marks)
end = re.search(r'grab ends at ([\d.]+)', marks)
if not begin or not end:
    sys.exit('cpu_share: the benchmark printed no grab marks:\n' + marks)
B, E = float(begin[1]), float(end[1])

line = re.compile(r'\s*(\d+)/(\d+)\s+\[(\d+)\]\s+([\d.]+):\s+prev_comm=(.*) prev_pid=(\d+) .*prev_state=(\S+) '
                  r'==> next_comm=(.*) next_pid=(\d+)')
switches = [m.groups() for m in map(line.match, open(sys.argv[2])) if m]
# The grab runs on the benchmark's main thread: the one whose id is its process's.
bench = collections.Counter(pid for pid, tid, _, _, comm, *_ in switches if comm == 'latency_bench')
if not bench:
    sys.exit('cpu_share: no switch of the benchmark was recorded')
grab = bench.most_common(1)[0][0]
process = {tid: pid for pid, tid, *_ in switches}

on = collections.Counter()   # thread -> time on a core within the grab
name = {}
since = {}                   # thread -> when it got its core
left = None                  # (when, state) the grab thread left its core
asleep = waiting = 0.0
timeline = collections.defaultdict(lambda: [0.0, 0.0, 0.0])  # asleep, kept off, cores idle


def spread(start, stop, column):
    # Over the 50 ms steps the stretch covers.
    k = int((start - B) / 0.05)
    while stop > start:
        cut = min(stop, B + (k + 1) * 0.05)
        if cut > start:
            timeline[k][column] += cut - start
            start = cut
        k += 1


for pid, tid, cpu, t, prev_comm, prev, state, next_comm, nxt in switches:
    t = float(t)
    # Each core has its own idle task, all with id 0.
    prev = prev + '/' + cpu if prev == '0' else prev
    nxt = nxt + '/' + cpu if nxt == '0' else nxt
    name[prev], name[nxt] = prev_comm, next_comm
    if prev in since:
        start, stop = max(since.pop(prev), B), min(t, E)
        if stop > start:
            on[prev] += stop - start
            if prev.startswith('0/'):
                spread(start, stop, 2)
    since[nxt] = t
    if prev == grab:
        left = (t, state)
    if nxt == grab and left:
        start, stop = max(left[0], B), min(t, E)
        if stop > start:
            off = stop - start
            ready = left[1].startswith('R')
            waiting += off if ready else 0
            asleep += 0 if ready else off
            spread(start, stop, 1 if ready else 0)
        left = None

wall = E - B
print(f'grab {wall:.3f} s: on a core {on[grab]:.3f} s, asleep {asleep:.3f} s, '
      f'ready but kept off the cores {waiting:.3f} s')
by = collections.Counter()
for tid, seconds in on.items():
    who = name[tid]
    if tid == grab:
        who = 'the grab thread'
    elif process.get(tid) == grab:
        who = 'latency_bench, other threads (the delay proxy)'
    elif tid.startswith('0/'):
        who = 'idle'
    by[who] += seconds
print('processor time within the grab, both cores:')
for who, seconds in by.most_common(8):
    print(f'  {seconds:7.3f} s  {who}')
print('per 50 ms (ms): the grab thread asleep, kept off the cores; both cores idle')
for k in range(int(wall / 0.05) + 1):
    s, r, idle = timeline[k]
    print(f'  {k * 50:5d} {s * 1000:5.0f} {r * 1000:5.0f} {idle * 1000:5.0f}')
EOF
