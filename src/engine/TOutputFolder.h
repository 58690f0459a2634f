#pragma once
#include <QByteArray>

// Files in the user's picture folder. A picture is written under a hidden
// temporary name that carries the writer's process id and renamed over its
// target, so a failed or killed write never leaves half a picture under the
// real name, and a temporary left by a dead process can be told and removed.
class TOutputFolder {
public:
    // Writes data to path through a temporary in the same folder; the new
    // file is 0644 less the umask. Returns 0 or the errno of the failure.
    static int WriteReplacing(const QByteArray &path, const QByteArray &data);
    static bool Exists(const QByteArray &path);
    // Whether the file at path has the checksum key (size and CRC-32).
    static bool SameContent(const QByteArray &path, const QByteArray &key);
    // Removes the temporaries of processes no longer alive from dir (ending
    // in "/"), and unmarked ones from older versions once an hour old.
    // Returns how many went.
    static int RemoveStaleTemporaries(const QByteArray &dir);

    static constexpr const char *TempPrefix = ".pixtrawl-";
};
