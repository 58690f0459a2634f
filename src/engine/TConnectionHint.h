#pragma once
#include "TGrabEvents.h"

#include <QString>

// A hint for a connection that failed because TLS and the port disagree: no
// greeting on a TLS port with TLS off, or TLS failing on a plain port.
class TConnectionHint {
public:
    // Empty when there is nothing to suggest; else text to append to the message.
    static QString For(TGrabFailure kind, bool tls, int port, const QString &failure);
};
