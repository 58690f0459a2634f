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
    // Whether the plain file at path has the checksum key (size and CRC-32).
    static bool SameContent(const QByteArray &path, const QByteArray &key);
    // Whether the plain file at path (not a link) holds exactly data: the
    // size first, then the bytes in blocks up to the first difference.
    static bool SameBytes(const QByteArray &path, const QByteArray &data);

    // Where Save put a picture.
    struct Placed {
        int Error = 0;          // 0, or the errno of the failure (nothing is left then)
        QByteArray Name;        // the name it went under
        bool Replaced = false;  // a file of the same bytes had the name and was replaced
    };
    // Saves data in dir (ending in "/") under name, never over a different
    // file: a name already taken gets the next free number (a.b.c ->
    // a.b-1.c). Unless numberAlways, a taken name whose file holds the same
    // bytes is replaced instead. The new file takes its name atomically, so
    // a file that appears meanwhile is numbered past, not replaced.
    // temporary: data written already by WriteTemporary in the same file
    // system, taken over (renamed or removed) whatever happens.
    static Placed Save(const QByteArray &dir, const QByteArray &name, const QByteArray &data, bool numberAlways,
                       QByteArray temporary = {});
    // A hidden temporary in dir holding data, for Save; 0 or the errno.
    static int WriteTemporary(const QByteArray &dir, const QByteArray &data, QByteArray *temp);
    // Removes the temporaries of processes no longer alive from dir (ending
    // in "/"), and unmarked ones from older versions once an hour old.
    // Returns how many went.
    static int RemoveStaleTemporaries(const QByteArray &dir);

    static constexpr const char *TempPrefix = ".pixtrawl-";
};
