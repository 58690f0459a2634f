# shellcheck shell=sh disable=SC2154
# Sourced by the scripts that trace one headless grab. Set tracer (the tool
# the script runs the grab under) and tracer_package first. Takes an optional
# build folder (default build) off the arguments, checks that the tracer and
# latency_bench are there, and sets root, build and bench.
script=$(basename "$0" .sh)
root=$(cd "$(dirname "$0")/.." && pwd)
build=build
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    build=$1
    shift
fi
case $build in /*) ;; *) build="$root/$build" ;; esac
bench="$build/bench/latency_bench"
if ! command -v "$tracer" >/dev/null 2>&1; then
    echo "$script: $tracer is not installed (apt-get install $tracer_package)" >&2
    exit 1
fi
if [ ! -x "$bench" ]; then
    echo "$script: no $bench (ninja -C $build latency_bench)" >&2
    exit 1
fi
