#include "CostlyPictures.h"

#include "SpawnTool.h"
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {

int be16(const QByteArray &d, qsizetype at) { return uchar(d[at]) << 8 | uchar(d[at + 1]); }

// Where each scan's SOS marker starts, and where its data ends.
QList<std::pair<qsizetype, qsizetype>> scans(const QByteArray &d)
{
    QList<std::pair<qsizetype, qsizetype>> out;
    qsizetype at = 2;
    while (at + 4 <= d.size() && uchar(d[at]) == 0xFF) {
        const uchar m = uchar(d[at + 1]);
        if (m == 0xD9)
            break;
        const qsizetype start = at;
        at += 2 + be16(d, at + 2);
        if (m != 0xDA)
            continue;
        while (at + 1 < d.size()
               && !(uchar(d[at]) == 0xFF && uchar(d[at + 1]) != 0 && (uchar(d[at + 1]) < 0xD0 || uchar(d[at + 1]) > 0xD7)))
            ++at;
        out.append({start, at});
    }
    return out;
}

} // namespace

QByteArray Progressive(const QByteArray &jpeg, const QByteArray &scanScript)
{
    QStringList args{"-copy", "none"};
    QTemporaryFile script;
    if (scanScript.isEmpty()) {
        args << "-progressive";
    } else {
        EXPECT_TRUE(script.open());
        script.write(scanScript);
        script.flush();
        args << "-scans" << script.fileName();
    }
    const ToolResult run = SpawnTool(QStringLiteral("jpegtran"), args, jpeg, 30000);
    EXPECT_TRUE(run.Ok()) << run.err.toStdString();
    return run.out;
}

QByteArray RepeatedScan(const QByteArray &jpeg, int scan, int times)
{
    const auto all = scans(jpeg);
    EXPECT_FALSE(all.isEmpty());
    const auto [start, end] = all[scan < 0 ? all.size() - 1 : scan];
    return jpeg.left(end) + jpeg.mid(start, end - start).repeated(times) + jpeg.mid(end);
}

QByteArray WithFrameSize(QByteArray jpeg, int width, int height)
{
    for (qsizetype at = 2; at + 9 <= jpeg.size() && uchar(jpeg[at]) == 0xFF; at += 2 + be16(jpeg, at + 2)) {
        const uchar m = uchar(jpeg[at + 1]);
        if (m >= 0xC0 && m <= 0xC2) {
            jpeg[at + 5] = char(height >> 8);
            jpeg[at + 6] = char(height);
            jpeg[at + 7] = char(width >> 8);
            jpeg[at + 8] = char(width);
            return jpeg;
        }
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

QByteArray RepeatedFirstFrame(const QByteArray &gif, int times)
{
    const auto subBlocks = [&](qsizetype at) {
        while (at < gif.size() && gif[at])
            at += uchar(gif[at]) + 1;
        return at + 1;
    };
    qsizetype at = 13;
    if (uchar(gif[10]) & 0x80)
        at += 3 * (2 << (uchar(gif[10]) & 7));
    const qsizetype first = at;
    while (at < gif.size()) {
        if (uchar(gif[at]) == 0x21) {
            at = subBlocks(at + 2);
        } else if (uchar(gif[at]) == 0x2C) {
            const uchar flags = uchar(gif[at + 9]);
            at += 10;
            if (flags & 0x80)
                at += 3 * (2 << (flags & 7));
            at = subBlocks(at + 1);
            return gif.left(at) + gif.mid(first, at - first).repeated(times) + gif.mid(at);
        } else {
            break;
        }
    }
    ADD_FAILURE() << "no frame";
    return gif;
}
