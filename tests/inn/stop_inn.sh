#!/bin/sh
# Stops the news server that start_inn.sh started.
NEWSBIN=/usr/lib/news/bin
ENV_FILE=/tmp/pixtrawl-inn.env
if [ -f "$ENV_FILE" ]; then
    port=$(sed -n 's/^PIXTRAWL_INN_PORT=//p' "$ENV_FILE")
    # The reader daemon renames its command line once it runs; its pid file
    # names the port.
    pidfile=/run/news/nnrpd-$port.pid
    if [ -f "$pidfile" ]; then
        kill "$(cat "$pidfile")" 2>/dev/null
        rm -f "$pidfile"
    fi
    rm -f "$ENV_FILE"
fi
if [ -x "$NEWSBIN/rc.news" ]; then
    su news -s /bin/sh -c "$NEWSBIN/rc.news stop" >/dev/null 2>&1 || true
fi
exit 0
