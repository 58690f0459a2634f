// Base64 posts made the way mail and news clients make them, posted to INN2
// and grabbed by the window: single-part bare Base64 of every size
// remainder, single-part MIME with its headers in the article header, and a
// post in three parts with other articles between them.
#include "TFrmMain.h"

#include "InnServer.h"
#include "MessageRecorder.h"
#include "TestBodies.h"
#include "TempProgramDir.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Real photographs of the corpus, made distinct and of the wanted size
// remainder by a comment segment.
QByteArray picture(int n, int remainder)
{
    static const char *names[] = {"sunset.jpg", "harbour.jpg", "meadow.jpg", "bigcity.jpg", "forest.jpg"};
    const QByteArray base = readFile(QStringLiteral(PIXTRAWL_TEST_DATA "/corpus/pictures/") + names[n % 5]);
    int extra = 64 + n;
    while ((base.size() + 4 + extra) % 3 != remainder)
        ++extra;
    return JpegVariant(base, extra, quint32(n + 1));
}

// The header lines and body of a single-part MIME message from Python's email.
void pythonMime(const QByteArray &data, const QByteArray &name, QList<QByteArray> &headers, QList<QByteArray> &body)
{
    const QByteArray message = RunTool(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, email.mime.image\n"
                        "m = email.mime.image.MIMEImage(sys.stdin.buffer.read(), 'jpeg', name=sys.argv[1])\n"
                        "sys.stdout.buffer.write(m.as_bytes())\n"),
         QString::fromLatin1(name)},
        data);
    const qsizetype split = message.indexOf("\n\n");
    headers.clear();
    for (const QByteArray &h : message.left(split).split('\n')) {
        if ((h.startsWith(' ') || h.startsWith('\t')) && !headers.isEmpty())
            headers.last() += h; // unfolded: one header a line
        else
            headers << h;
    }
    body = BodyLinesOf(message.mid(split + 2));
}

struct Expected {
    QByteArray name, data;
};

TEST(Base64Inn, EveryPictureOnceUnderItsOwnName)
{
    if (InnServer::Port() == 0)
        GTEST_SKIP() << InnServer::SkipReason().toStdString();
    QList<Expected> want;
    const QByteArray bare = InnServer::UniqueGroupName("pixtrawl.b64.bare");
    const QByteArray mixed = InnServer::UniqueGroupName("pixtrawl.b64.mixed");

    QList<InnServer::Article> first;
    for (int n = 0; n < 30; ++n) {
        const QByteArray name = "bare-" + QByteArray::number(n) + ".jpg";
        const QByteArray data = picture(n, n % 3);
        InnServer::Article a;
        a.subject = "Bare Base64 picture " + QByteArray::number(n) + ": " + name;
        a.body = Base64Body(data, QList<int>{64, 72, 76}[n % 3]);
        first << a;
        want << Expected{name, data};
    }

    QList<InnServer::Article> second;
    for (int n = 0; n < 6; ++n) {
        const QByteArray name = "mime-" + QByteArray::number(n) + ".jpg";
        const QByteArray data = picture(40 + n, n % 3);
        InnServer::Article a;
        a.subject = "A picture by mail: " + name;
        pythonMime(data, name, a.extraHeaders, a.body);
        second << a;
        want << Expected{name, data};
    }
    const QByteArray multi = picture(50, 0), between = picture(51, 1);
    const QList<QByteArray> lines = Base64Body(multi, 76);
    const qsizetype third = lines.size() / 3;
    const QList<QByteArray> parts[] = {lines.mid(0, third), lines.mid(third, third), lines.mid(2 * third)};
    InnServer::Article p2{{}, "multi64.jpg (2/3)", parts[1], {}, {}};
    InnServer::Article text{{}, "Re: where is part 1?", {"It comes next.", "-- ", "A reader"}, {}, {}};
    InnServer::Article p1{{}, "multi64.jpg (1/3)", parts[0], {}, {}};
    InnServer::Article other{{}, "between.jpg", Base64Body(between, 72), {}, {}};
    InnServer::Article p3{{}, "multi64.jpg (3/3)", parts[2], {}, {}};
    second << p2 << text << p1 << other << p3;
    want << Expected{"multi64.jpg", multi} << Expected{"between.jpg", between};

    QString error;
    ASSERT_TRUE(InnServer::CreateGroupWithArticles(bare, first, &error)) << error.toStdString();
    ASSERT_TRUE(InnServer::CreateGroupWithArticles(mixed, second, &error)) << error.toStdString();

    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir work;
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    TempProgramDir dir;
    MessageRecorder boxes;
    const QString out = dir.path(QStringLiteral("out/"));
    QDir().mkpath(out);
    IniWriteString("CONFIG", "HOST", "127.0.0.1");
    IniWriteInteger("CONFIG", "PORT", InnServer::Port());
    IniWriteString("CONFIG", "OUTPUT_DIR", out.toLocal8Bit());
    IniWriteBool("CONFIG", "EXIT_PROMPT", false);
    IniWriteBool("CONFIG", "RENAME_DUPLICATES", true); // a second file under one name would show
    IniWriteString("GROUPS", "LIST", bare + ',' + mixed + ',');
    {
        TFrmMain w;
        ASSERT_TRUE(w.miConnectClick());
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.State() == TFrmMain::StateOnline; }, 15000));
        w.miSearchAllGroups->trigger();
        EXPECT_EQ(w.State(), TFrmMain::StateOnline);
        EXPECT_TRUE(w.close());
    }
    QDir::setCurrent(oldCwd);
    EXPECT_TRUE(boxes.shown().isEmpty());

    QStringList names;
    for (const Expected &e : want) {
        names << QString::fromLatin1(e.name);
        EXPECT_EQ(readFile(out + QString::fromLatin1(e.name)), e.data) << e.name.constData();
    }
    names.sort();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", bare), 30);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", bare), 0);
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", mixed), 8);
    EXPECT_EQ(ReadStatistic("EMPTY_COUNT", mixed), 3); // two kept parts and the text
    EXPECT_EQ(IniReadString("GROUPS", mixed, ""), "11," + second.last().messageId + '+');
}

} // namespace
