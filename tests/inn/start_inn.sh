#!/bin/sh
# Starts a local INN2 news server for the INN tests: innd plus a reader daemon
# (nnrpd) on a free loopback port. Safe to run again: a running server whose
# reader port still greets is reused. Needs root (installs inn2 when missing).
# The last line printed is PIXTRAWL_INN_PORT=<port>; the same line is written
# to /tmp/pixtrawl-inn.env.
set -eu

ENV_FILE=/tmp/pixtrawl-inn.env
CONF=/etc/news/inn.conf
NEWSBIN=/usr/lib/news/bin

log() { echo "start_inn: $*" >&2; }

greets() {
    # A reader greeting starts with 200 or 201.
    timeout 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1 && head -c 3 <&3" 2>/dev/null | grep -q '^20[01]'
}

if [ "$(id -u)" != 0 ]; then
    log "must run as root"
    exit 1
fi

if [ -f "$ENV_FILE" ]; then
    port=$(sed -n 's/^PIXTRAWL_INN_PORT=//p' "$ENV_FILE")
    if [ -n "$port" ] && greets "$port"; then
        log "already running"
        echo "PIXTRAWL_INN_PORT=$port"
        exit 0
    fi
fi

if [ ! -x "$NEWSBIN/innd" ]; then
    log "installing inn2"
    export DEBIAN_FRONTEND=noninteractive
    # Its set-up step fails on a host name without a domain; fixed below.
    apt-get install -y --no-install-recommends inn2 >/tmp/pixtrawl-inn-install.log 2>&1 ||
        { apt-get update -qq && apt-get install -y --no-install-recommends inn2; } \
            >>/tmp/pixtrawl-inn-install.log 2>&1 || true
fi
if [ ! -f "$CONF" ] || [ ! -x "$NEWSBIN/innd" ]; then
    log "inn2 is not installed (see /tmp/pixtrawl-inn-install.log)"
    exit 1
fi

set_conf() {
    # set_conf key value: replaces the key's line or appends one.
    if grep -q "^#*[[:space:]]*$1:" "$CONF"; then
        sed -i "s|^#*[[:space:]]*$1:.*|$1: $2|" "$CONF"
    else
        echo "$1: $2" >>"$CONF"
    fi
}

# The package's set-up fails on a host name without a domain.
set_conf domain localdomain
if ! dpkg --configure -a >/tmp/pixtrawl-inn-configure.log 2>&1; then
    log "dpkg --configure -a failed (see /tmp/pixtrawl-inn-configure.log)"
    exit 1
fi

free_port() {
    # A port in 20000..39999 that nothing answers on.
    while :; do
        p=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 20000))
        if ! timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$p" 2>/dev/null; then
            echo "$p"
            return
        fi
    done
}

# A server left from an earlier run that no longer answers is restarted.
"$(dirname "$0")/stop_inn.sh"
sleep 1

# innd and the reader daemon each need a port of their own.
innport=$(free_port)
readport=$(free_port)
while [ "$readport" = "$innport" ]; do readport=$(free_port); done

set_conf port "$innport"
set_conf bindaddress 127.0.0.1
set_conf bindaddress6 none
set_conf maxartsize 20000000
set_conf localmaxartsize 20000000

mkdir -p /run/news && chown news:news /run/news
if ! su news -s /bin/sh -c "$NEWSBIN/rc.news start" >/tmp/pixtrawl-inn-start.log 2>&1; then
    log "rc.news start failed (see /tmp/pixtrawl-inn-start.log)"
    exit 1
fi
# innd is ready when ctlinnd gets an answer.
i=0
until su news -s /bin/sh -c "$NEWSBIN/ctlinnd -t 5 mode" >/dev/null 2>&1; do
    i=$((i + 1))
    if [ "$i" -ge 30 ]; then
        log "innd did not come up (see /tmp/pixtrawl-inn-start.log and /var/log/news)"
        exit 1
    fi
    sleep 1
done

su news -s /bin/sh -c "$NEWSBIN/nnrpd -D -b 127.0.0.1 -p $readport" >/tmp/pixtrawl-inn-nnrpd.log 2>&1 || true
i=0
until greets "$readport"; do
    i=$((i + 1))
    if [ "$i" -ge 30 ]; then
        log "nnrpd does not greet on port $readport (see /tmp/pixtrawl-inn-nnrpd.log)"
        exit 1
    fi
    sleep 1
done

echo "PIXTRAWL_INN_PORT=$readport" >"$ENV_FILE"
echo "PIXTRAWL_INN_PORT=$readport"
