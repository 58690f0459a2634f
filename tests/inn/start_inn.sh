#!/bin/sh
# Starts a local INN2 news server for the INN tests: innd plus a reader daemon
# (nnrpd) on a free loopback port, open to all, and a second reader that
# speaks TLS from the first byte and wants a login (its own readers.conf with
# ckpasswd on a password file), on a port of its own. Safe to run again: a
# running server whose reader ports still greet is reused. Needs root
# (installs inn2 when missing). The last line printed is
# PIXTRAWL_INN_PORT=<port>; /tmp/pixtrawl-inn.env holds that line and
# PIXTRAWL_INN_TLS_PORT, PIXTRAWL_INN_USER, PIXTRAWL_INN_PASSWORD and
# PIXTRAWL_INN_TLS_SHA256 (the fingerprint of its self-signed certificate).
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

greets_tls() {
    printf 'QUIT\r\n' | timeout 5 openssl s_client -quiet -connect "127.0.0.1:$1" 2>/dev/null | head -c 3 | grep -q '^20[01]'
}

# wait_for check port message: up to 30 s for the check to pass.
wait_for() {
    i=0
    until "$1" "$2"; do
        i=$((i + 1))
        if [ "$i" -ge 30 ]; then
            log "$3"
            return 1
        fi
        sleep 1
    done
}

TLS_DIR=/etc/news/pixtrawl-tls
TLS_USER=pixtrawl
TLS_PASSWORD=grab-secret

# start_tls_reader readport: the TLS-and-login reader beside the open one.
start_tls_reader() {
    mkdir -p "$TLS_DIR"
    if [ ! -f "$TLS_DIR/cert.pem" ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj /CN=localhost \
            -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
            -keyout "$TLS_DIR/key.pem" -out "$TLS_DIR/cert.pem" >/dev/null 2>&1
    fi
    chown -R news:news "$TLS_DIR"
    chmod 600 "$TLS_DIR/key.pem"
    echo "$TLS_USER:$(openssl passwd -5 "$TLS_PASSWORD")" >"$TLS_DIR/passwd"
    chown news:news "$TLS_DIR/passwd"
    cat >"$TLS_DIR/readers.conf" <<EOC
auth "pixtrawl" {
    auth: "ckpasswd -f $TLS_DIR/passwd"
}
access "pixtrawl" {
    users: "$TLS_USER"
    newsgroups: "*"
}
EOC
    set_conf tlscertfile "$TLS_DIR/cert.pem"
    set_conf tlskeyfile "$TLS_DIR/key.pem"
    tlsport=$(free_port)
    while [ "$tlsport" = "$1" ]; do tlsport=$(free_port); done
    su news -s /bin/sh -c "$NEWSBIN/nnrpd -D -S -b 127.0.0.1 -p $tlsport -c $TLS_DIR/readers.conf" \
        >/tmp/pixtrawl-inn-nnrpd-tls.log 2>&1 || true
    wait_for greets_tls "$tlsport" "the TLS reader does not greet on port $tlsport (see /tmp/pixtrawl-inn-nnrpd-tls.log)" ||
        return 1
    sha=$(openssl x509 -in "$TLS_DIR/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
    {
        echo "PIXTRAWL_INN_PORT=$1"
        echo "PIXTRAWL_INN_TLS_PORT=$tlsport"
        echo "PIXTRAWL_INN_USER=$TLS_USER"
        echo "PIXTRAWL_INN_PASSWORD=$TLS_PASSWORD"
        echo "PIXTRAWL_INN_TLS_SHA256=$sha"
    } >"$ENV_FILE"
}

set_conf() {
    # set_conf key value: replaces the key's line or appends one.
    if grep -q "^#*[[:space:]]*$1:" "$CONF"; then
        sed -i "s|^#*[[:space:]]*$1:.*|$1: $2|" "$CONF"
    else
        echo "$1: $2" >>"$CONF"
    fi
}

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

if [ -f "$ENV_FILE" ]; then
    port=$(sed -n 's/^PIXTRAWL_INN_PORT=//p' "$ENV_FILE")
    tlsport=$(sed -n 's/^PIXTRAWL_INN_TLS_PORT=//p' "$ENV_FILE")
    if [ -n "$port" ] && greets "$port"; then
        if [ -z "$tlsport" ] || ! greets_tls "$tlsport"; then
            start_tls_reader "$port" || exit 1
        fi
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


# The package's set-up fails on a host name without a domain.
set_conf domain localdomain
if ! dpkg --configure -a >/tmp/pixtrawl-inn-configure.log 2>&1; then
    log "dpkg --configure -a failed (see /tmp/pixtrawl-inn-configure.log)"
    exit 1
fi


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
wait_for greets "$readport" "nnrpd does not greet on port $readport (see /tmp/pixtrawl-inn-nnrpd.log)" || exit 1

start_tls_reader "$readport" || exit 1
echo "PIXTRAWL_INN_PORT=$readport"
