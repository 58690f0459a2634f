#!/bin/sh
# Stops the news server that start_inn.sh started.
NEWSBIN=/usr/lib/news/bin
ENV_FILE=/tmp/pixtrawl-inn.env
if [ -f "$ENV_FILE" ]; then
    port=$(sed -n 's/^PIXTRAWL_INN_PORT=//p' "$ENV_FILE")
    # The reader daemon listens on that port; end only that one.
    for pid in $(pgrep -x nnrpd 2>/dev/null); do
        if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "-p $port"; then
            kill "$pid" 2>/dev/null
        fi
    done
    rm -f "$ENV_FILE"
fi
if [ -x "$NEWSBIN/rc.news" ]; then
    su news -s /bin/sh -c "$NEWSBIN/rc.news stop" >/dev/null 2>&1 || true
fi
exit 0
