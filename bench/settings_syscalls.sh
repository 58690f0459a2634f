#!/bin/sh
# Counts, per article walked, how often one headless grab from the local INN2
# server (tests/inn/start_inn.sh) replaces the settings file (renames onto
# pixtrawl.ini), opens it for reading and looks it up (stat). Only the calls
# between the grab's start and end marks are counted, so setting up the run
# does not weigh in.
#   bench/settings_syscalls.sh [build folder, default build] [latency_bench options, e.g. --pipeline 4]
set -eu
tracer=strace
tracer_package=strace
# shellcheck source=bench/grab_once_setup.sh
. "$(dirname "$0")/grab_once_setup.sh"
trace=$(mktemp)
out=$(mktemp)
trap 'rm -f "$trace" "$out"' EXIT
strace -f -e trace=rename,renameat,renameat2,openat,stat,lstat,newfstatat,statx -o "$trace" "$bench" --grab-once "$@" >"$out"
articles=$(sed -n 's/^walked \([0-9]*\) articles.*/\1/p' "$out")
if [ -z "$articles" ] || [ "$articles" -eq 0 ]; then
    echo "settings_syscalls: the grab did not report the articles it walked" >&2
    exit 1
fi
# The marks are failed opens of <settings folder>/grab-begins and grab-ends.
awk -v articles="$articles" '
    !ini && /"[^"]*\/grab-begins"/ {
        match($0, /"[^"]*\/grab-begins"/)
        dir = substr($0, RSTART + 1, RLENGTH - length("/grab-begins") - 2)
        ini = "\"" dir "/pixtrawl.ini\""
        next
    }
    ini && index($0, "/grab-ends\"") { done = 1; exit }
    !ini { next }
    /rename(at2?)?\(/ {
        # The target is the last path in the call.
        n = split($0, part, "\"")
        if (n >= 4 && "\"" part[n - 1] "\"" == ini)
            ++renames
        next
    }
    /openat\(/ && index($0, ini ", O_RDONLY") { ++reads }
    /stat[a-z0-9]*\(/ && index($0, ini ",") { ++looks }
    END {
        if (!done) { print "settings_syscalls: no grab marks in the trace" > "/dev/stderr"; exit 1 }
        printf "%d articles walked: %d replacements of pixtrawl.ini (%.2f per article), %d opens for reading (%.2f per article), %d stats (%.2f per article)\n",
               articles, renames, renames / articles, reads, reads / articles, looks, looks / articles
    }' "$trace"
