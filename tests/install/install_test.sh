#!/usr/bin/env bash
# Installs Pixtrawl into a temporary prefix, as an administrator would, and
# runs it as a normal user with a home of its own (nobody when run as root):
# every file must land in the XDG places and the sample corpus be saved.
# install_test.sh BUILD_DIR SAMPLE_SERVER CORPUS_DIR
set -euo pipefail
build=$1 server=$2 corpus=$3
tmp=$(mktemp -d)
server_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  chmod -R u+w "$tmp" 2>/dev/null || true
  [ -n "${KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
id=org.pixtrawl.Pixtrawl
for f in bin/pixtrawl share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/16x16/apps/$id.png \
         share/icons/hicolor/256x256/apps/$id.png; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
units=$prefix/lib/systemd/user
for f in pixtrawl-grab.service pixtrawl-grab.timer; do [ -f "$units/$f" ] || fail "not installed: $f"; done
grep -qx "ExecStart=$prefix/bin/pixtrawl --grab" "$units/pixtrawl-grab.service" || fail "service names another program"
if command -v systemd-analyze >/dev/null; then
  (cd "$units" && systemd-analyze verify ./pixtrawl-grab.service ./pixtrawl-grab.timer) || fail "units do not verify"
fi
[ "$("$prefix/bin/pixtrawl" --version | head -n 1)" = "pixtrawl 1.01" ] || fail "--version"
"$prefix/bin/pixtrawl" --version | grep -q "GPL-3.0-or-later" || fail "--version names no licence"
for f in share/doc/pixtrawl/copyright share/doc/pixtrawl/pixtrawl-help.html share/man/man1/pixtrawl.1; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
"$prefix/bin/pixtrawl" --help | grep -q -- "--version" || fail "--help"

"$server" "$corpus/spool" >"$tmp/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q '^PORT=' "$tmp/server.log" && break; sleep 0.1; done
port=$(sed -n 's/^PORT=//p' "$tmp/server.log")
[ -n "$port" ] || fail "sample server did not start"

# The administrator's defaults, in a folder the user may not write.
groups=$(ls "$corpus/spool" | tr '\n' ',')
cat >"$prefix/bin/pixtrawl.ini" <<INI
[CONFIG]
HOST=127.0.0.1
PORT=$port
AUTO_START=Y
EXIT_PROMPT=N
PREVIEW=Y
LOG=Y
[GROUPS]
LIST=$groups
INI
chmod 755 "$tmp" "$prefix" "$prefix/bin"
chmod 644 "$prefix/bin/pixtrawl.ini"
chmod a-w "$prefix/bin"

home=$tmp/home
mkdir -p "$home"
run=()
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$home"
  run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
# A clean environment, but a sanitizer build keeps its options.
keep=()
for v in ASAN_OPTIONS UBSAN_OPTIONS; do [ -n "${!v:-}" ] && keep+=("$v=${!v}"); done
(cd "$home" && exec "${run[@]}" env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen "${keep[@]}" \
   "$prefix/bin/pixtrawl") >"$tmp/app.log" 2>&1 &
app_pid=$!

ini=$home/.config/pixtrawl/pixtrawl.ini
last_group=$(ls "$corpus/spool" | tail -n 1)
last_article=$(ls "$corpus/spool/$last_group" | sort -n | tail -n 1)
for _ in $(seq 600); do
  grep -q -E "^$last_group=$last_article,.*\+" "$ini" 2>/dev/null && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q -E "^$last_group=$last_article,.*\+" "$ini" 2>/dev/null || { cat "$tmp/app.log"; fail "the grab did not finish"; }
kill -TERM "$app_pid" # closes like Exit: placement and checksums saved
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
wait "$app_pid" || fail "exit status $?"
app_pid=

# The same settings grabbed by the command line, with no display at all:
# nothing is new, every group is walked.
out=$(cd "$home" && "${run[@]}" env -i HOME="$home" PATH=/usr/bin:/bin "${keep[@]}" \
   "$prefix/bin/pixtrawl" --grab 2>"$tmp/grab.err") || { cat "$tmp/grab.err"; fail "--grab exit status $?"; }
[ "$out" = "$(printf 'Group 1 of 2: %s\nGroup 2 of 2: %s\nSaved 0 pictures, 0 duplicates, 0 filtered in 2 groups' \
   $(ls "$corpus/spool"))" ] || fail "--grab said: $out"

pictures=$home/Pictures/Pixtrawl
for f in "$ini" "$home/.local/share/pixtrawl/CRC-32.dat" "$home/.cache/pixtrawl/current.jpg" \
         "$home/.local/state/pixtrawl/pixtrawl.log"; do
  [ -s "$f" ] || fail "missing or empty: $f"
done
grep -q "^OUTPUT_DIR=$pictures/\$" <(tr -d '\r' <"$ini") || fail "output folder not proposed"
grep -q "^\[WINDOW\]" "$ini" || fail "placement not saved at close"
for p in bigcity harbour meadow sunset:sunset-copy; do
  cmp -s "$corpus/pictures/${p%%:*}.jpg" "$pictures/${p##*:}.jpg" || fail "${p##*:}.jpg not saved whole"
done
[ "$(ls "$prefix/bin")" = "$(printf 'pixtrawl\npixtrawl.ini')" ] || fail "files beside the program: $(ls "$prefix/bin")"
[ -z "$(ls -A "$home" | grep -v -E '^(\.config|\.local|\.cache|Pictures)$')" ] || fail "stray files in HOME: $(ls -A "$home")"
echo "installed run saved $(ls "$pictures" | wc -l) pictures into $pictures"
