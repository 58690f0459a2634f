#!/bin/sh
# Runs a command with its temporary files (TMPDIR) on an ext4 file system
# made for it in memory and removed afterwards. On ext4, a file made within
# minutes of many deletions costs a scan past each deleted inode: the clean-up
# of one benchmark run slowed the next run's picture files by 10 to 15%, so
# runs measured the machine's history, not the grab. Needs root (mount).
#   bench/fresh_ext4.sh build/bench/latency_bench --rows 1,2,3 --runs 7
set -eu
if [ $# -eq 0 ]; then
    echo "usage: $0 command [arguments]" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "$(basename "$0"): needs root to mount a file system" >&2
    exit 1
fi
store=${FRESH_EXT4_STORE:-/dev/shm}
image=$(mktemp "$store/fresh-ext4.XXXXXX")
mnt=$(mktemp -d)
cleanup() {
    umount "$mnt" 2>/dev/null || true
    rmdir "$mnt"
    rm -f "$image"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Memory is taken only as files are written: the corpus's pictures, a few
# copies of 70 MB for each run in a process, fit easily.
truncate -s 4G "$image"
# Inode tables and journal written now: lazy initialisation would zero them
# from a kernel thread while the benchmark runs.
mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$image"
mount -o loop "$image" "$mnt"
mkdir -m 1777 "$mnt/tmp"
status=0
TMPDIR="$mnt/tmp" "$@" || status=$?
exit $status
