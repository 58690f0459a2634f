#!/bin/sh
# Stops the news server that start_inn.sh started.
NEWSBIN=/usr/lib/news/bin
ENV_FILE=/tmp/pixtrawl-inn.env
if [ -f "$ENV_FILE" ]; then
    # Both reader daemons rename their command lines once they run; their
    # pid files name the ports.
    for port in $(sed -n 's/^PIXTRAWL_INN_\(TLS_\)\{0,1\}PORT=//p' "$ENV_FILE"); do
        pidfile=/run/news/nnrpd-$port.pid
        if [ -f "$pidfile" ]; then
            kill "$(cat "$pidfile")" 2>/dev/null
            rm -f "$pidfile"
        fi
    done
    rm -f "$ENV_FILE"
fi
if [ -x "$NEWSBIN/rc.news" ]; then
    su news -s /bin/sh -c "$NEWSBIN/rc.news stop" >/dev/null 2>&1 || true
fi
exit 0
