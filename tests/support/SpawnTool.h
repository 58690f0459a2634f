#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs a tool to its end: input on its standard input, both outputs kept.
// posix_spawn rather than QProcess: Qt starts children in the parent's
// memory (a vfork-like clone), which spoils ThreadSanitizer's view of the
// thread that started them.
struct ToolResult {
    bool finished = false; // started, and exited by itself within the time
    int exitCode = -1;
    QByteArray out, err;
    bool Ok() const { return finished && exitCode == 0; }
};
ToolResult SpawnTool(const QString &program, const QStringList &args, const QByteArray &input = {},
                   int timeoutMs = 60000);
