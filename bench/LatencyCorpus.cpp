#include "LatencyCorpus.h"

#include "FakeNntpServer.h"
#include "RawNntpClient.h"
#include "TestBodies.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <random>

const QByteArray LatencyCorpus::Filter = "spam";

namespace {

constexpr int kText = 500, kFiltered = 100, kSingle = 300, kMulti = 25, kParts = 4;
constexpr qsizetype kPictureBytes = 200000;
const char *const kPhotos = "/usr/share/backgrounds/mate/nature";

// The photograph re-encoded at the width that gives about `wanted` bytes.
QByteArray jpegOfSize(const QImage &photo, qsizetype wanted)
{
    int width = 1024;
    QByteArray bytes;
    for (int attempt = 0; attempt < 6; ++attempt) {
        bytes.clear();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        photo.scaledToWidth(width, Qt::SmoothTransformation).save(&buffer, "JPEG", 85);
        if (std::abs(double(bytes.size()) / double(wanted) - 1) < 0.02)
            break;
        width = int(width * std::sqrt(double(wanted) / double(bytes.size())));
    }
    return bytes;
}

// About 2 KB of words in lines of about 70 characters.
QList<QByteArray> textBody(quint32 seed)
{
    static const char *const words[] = {"the", "lens", "light", "morning", "harbour", "a", "shutter", "of",
                                        "grain", "and", "focus", "print", "film", "sky", "over", "colour"};
    std::mt19937 rng(seed);
    QList<QByteArray> lines;
    for (int size = 0; size < 2000;) {
        QByteArray line;
        while (line.size() < 66)
            line += QByteArray(words[rng() % 16]) + ' ';
        line.chop(1);
        size += int(line.size()) + 2;
        lines << line;
    }
    return lines;
}

// What the server sends for a body: dot-stuffed lines and the "." line.
qint64 wireSize(const QList<QByteArray> &body) { return FakeNntpServer::Stuffed(body).size(); }

// Every yEnc body decoded by sabyenc must give the bytes it was made from.
bool checkWithSabyenc(const QList<QPair<QByteArray, QByteArray>> &bodies, QString *error)
{
    QByteArray input;
    for (const auto &[article, data] : bodies)
        input += QByteArray::number(article.size()) + ' ' + QByteArray::number(data.size()) + '\n' + article + data;
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(PIXTRAWL_BENCH_DIR "/yenc_check.py")});
    if (!p.waitForStarted(10000)) {
        *error = QStringLiteral("cannot run /usr/bin/python3");
        return false;
    }
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("sabyenc check failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    return true;
}

} // namespace

bool LatencyCorpus::Filtered(const QByteArray &subject) { return subject.toLower().contains(Filter); }

bool LatencyCorpus::Make(QString *error)
{
    QList<QByteArray> photos;
    const QDir dir(QString::fromLatin1(kPhotos));
    for (const QString &name : dir.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        const QImage photo(dir.filePath(name));
        if (!photo.isNull())
            photos << jpegOfSize(photo, kPictureBytes - 600); // the comment segment brings it to about 200 KB
    }
    if (photos.isEmpty()) {
        *error = QStringLiteral("no photographs in %1 (apt-get install mate-backgrounds)").arg(kPhotos);
        return false;
    }

    // T text, F filtered, P one-part picture, M a part of a four-part one.
    QByteArray kinds = QByteArray(kText, 'T') + QByteArray(kFiltered, 'F') + QByteArray(kSingle, 'P') +
        QByteArray(kMulti * kParts, 'M');
    std::mt19937 rng(20240611);
    std::shuffle(kinds.begin(), kinds.end(), rng);

    QList<QPair<QByteArray, QByteArray>> yencBodies; // body as sent, bytes it must decode to
    int pictureCount = 0, partsSeen = 0, texts = 0;
    QByteArray multiName, multiData;
    articles.clear();
    pictures.clear();
    wanted = 0;
    wantedBytes = 0;
    for (int i = 0; i < Articles; ++i) {
        InnServer::Article a;
        const char kind = kinds[i];
        QByteArray decoded;
        if (kind == 'T' || kind == 'F') {
            a.subject = kind == 'F' ? "Spam offer " + QByteArray::number(++texts) : "Re: notes on film " + QByteArray::number(++texts);
            a.body = textBody(quint32(i));
        } else if (kind == 'P') {
            const int n = ++pictureCount;
            const QByteArray name = "p" + QByteArray::number(n).rightJustified(4, '0') + ".jpg";
            const QByteArray data = JpegVariant(photos[n % photos.size()], 200 + n % 800, quint32(n));
            pictures.insert(name, data);
            a.subject = "Photos from the trip - \"" + name + "\" yEnc (1/1)";
            a.body = YEncFile(name, data);
            decoded = data;
        } else {
            const int part = partsSeen++ % kParts + 1;
            if (part == 1) {
                const int n = ++pictureCount;
                multiName = "m" + QByteArray::number(n).rightJustified(4, '0') + ".jpg";
                multiData = JpegVariant(photos[n % photos.size()], 200 + n % 800, quint32(n));
                pictures.insert(multiName, multiData);
            }
            const qsizetype partSize = (multiData.size() + kParts - 1) / kParts;
            const qsizetype begin = qsizetype(part - 1) * partSize + 1;
            a.subject = "\"" + multiName + "\" yEnc (" + QByteArray::number(part) + '/' + QByteArray::number(kParts) + ')';
            a.body = YEncPart(multiName, multiData, part, kParts, begin, partSize);
            decoded = multiData.mid(begin - 1, partSize);
        }
        if (!decoded.isEmpty())
            yencBodies.append({FakeNntpServer::Stuffed(a.body), decoded});
        if (!Filtered(a.subject)) {
            ++wanted;
            wantedBytes += wireSize(a.body);
        }
        articles << a;
    }
    return checkWithSabyenc(yencBodies, error);
}

QByteArray LatencyCorpus::LastPointer(quint16 port, const QByteArray &group) const
{
    RawNntpClient c;
    QList<QByteArray> overview;
    if (!c.Connect(port))
        return {};
    const QList<QByteArray> g = c.Command("GROUP " + group).split(' ');
    if (g.size() < 4 || g[0] != "211" || !c.Command("OVER " + g[2] + '-' + g[3]).startsWith("224") ||
        !c.ReadBlock(&overview) || overview.size() != articles.size())
        return {};
    for (qsizetype i = 0; i < overview.size(); ++i) {
        const QList<QByteArray> f = overview[i].split('\t');
        if (f.size() < 5 || f[1] != articles[i].subject)
            return {};
    }
    c.Send("QUIT\r\n");
    const QList<QByteArray> last = overview.last().split('\t');
    return last[0] + ',' + last[4] + '+';
}

LatencyCorpus::Saved LatencyCorpus::Check(const QString &folder) const
{
    Saved s;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files)) {
        ++s.files;
        QFile f(dir.filePath(name));
        const auto want = pictures.constFind(QFile::encodeName(name));
        if (want == pictures.cend() || !f.open(QIODevice::ReadOnly) || f.readAll() != *want)
            ++s.wrong;
    }
    for (auto it = pictures.cbegin(); it != pictures.cend(); ++it)
        s.missing += !dir.exists(QFile::decodeName(it.key()));
    return s;
}
