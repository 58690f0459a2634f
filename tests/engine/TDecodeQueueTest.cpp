// Articles decoded on the workers while the walk goes on: commands given
// while they hold articles, and the order the keeper takes results in.
#include "EngineFixture.h"

#include "ManualClock.h"
#include "TDecodeWorkers.h"
#include "TThumbnailQueue.h"
#include "TestBodies.h"
#include "WaitUntil.h"
#include "ZqIniFile.h"
#include "ZqStatistics.h"

#include <QDir>
#include <QTimer>

#include <future>

namespace {

enum class Command { Stop, SkipArticle, SkipGroup, Close };

constexpr int Files = 6;

QByteArray fileBytes(int n) { return Noise(n == 1 ? 3 << 20 : 20000, quint32(n)); }

// Names in the order they were disposed of; at the first one's end the
// command is given, with the workers held until the event loop turns.
class CommandAfterFirst : public RecordedEvents {
public:
    std::function<void()> atFirst;
    QList<QByteArray> names;
    void ArticleDone(TArticleDisposition::Outcome outcome, const QByteArray &fileName, const QString &path) override
    {
        RecordedEvents::ArticleDone(outcome, fileName, path);
        if (!fileName.isEmpty()) // a skipped article names no file
            names << fileName;
        if (auto f = std::exchange(atFirst, nullptr))
            f();
    }
};

class WorkersHoldingArticles : public EngineTest, public ::testing::WithParamInterface<Command> {};

TEST_P(WorkersHoldingArticles, TheCommandLeavesTheExactPointerAndEveryFileOnce)
{
    // The first is large, so the small ones after it are decoded sooner.
    auto &articles = server.groups[0].articles;
    articles.clear();
    for (int n = 1; n <= Files; ++n) {
        const QByteArray name = "p" + QByteArray::number(n) + ".bin";
        articles << FakeNntpServer::MakeArticle(n, name + " yEnc",
                                                YEncFile(name, fileBytes(n)));
    }
    IniWriteInteger("CONFIG", "CONNECTIONS", 3);
    IniWriteString("CONFIG", "FILE_SCREENING", "N");
    IniWriteString("CONFIG", "RENAME_DUPLICATES", "Y"); // a file saved twice shows as a numbered copy

    QObject context; // outlives the engine the command may go to
    bool commanded = false;
    auto e = std::make_unique<TGrabEngine>();
    e->Workers().SetCount(2);
    CommandAfterFirst recorder;
    connect(*e);
    e->SetEvents(&recorder);
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    recorder.atFirst = [&] {
        // What the workers hold is not finished until the command is in.
        for (int i = 0; i < 2; ++i)
            e->Workers().Run([opened] { opened.wait(); }, [] {});
        switch (GetParam()) {
        case Command::Stop: e->Stop(); break;
        case Command::SkipArticle: e->SkipArticle(); break;
        case Command::SkipGroup: e->SkipGroup(); break;
        case Command::Close: e->Close(true); break;
        }
        QTimer::singleShot(0, &context, [&] {
            gate.set_value();
            commanded = true;
        });
    };
    e->SearchAllGroups();
    ASSERT_TRUE(WaitUntil([&] { return commanded; }, 30000));
    // In article order, whichever finished first.
    QList<QByteArray> sorted = recorder.names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(recorder.names, sorted);

    // What the command left undone comes in the next run.
    if (GetParam() == Command::Close) {
        e = std::make_unique<TGrabEngine>();
        connect(*e);
    } else {
        ASSERT_TRUE(WaitUntil([&] { return e->State() == TGrabEngine::StateOnline; }, 30000));
        e->SetEvents(&events);
    }
    e->SearchAllGroups();

    const QStringList saved = QDir(dir.path("out")).entryList(QDir::Files);
    for (const QString &file : saved) {
        const int n = file.mid(1, 1).toInt();
        EXPECT_EQ(dir.read("out/" + file), fileBytes(n)) << file.toStdString();
    }
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", "alt.a"), saved.size());
    EXPECT_EQ(ReadStatistic("SAVED_COUNT", "alt.a") + ReadStatistic("EMPTY_COUNT", "alt.a"), Files);
    // Only a skip may leave a file out.
    EXPECT_GE(saved.size(), GetParam() == Command::Stop || GetParam() == Command::Close ? Files : 1);
    EXPECT_EQ(IniReadString("GROUPS", "alt.a", ""), "6,<art6@fake.invalid>+");
    // Nor is a temporary a worker wrote left behind.
    e.reset();
    EXPECT_EQ(QDir(dir.path("out")).entryList({".pixtrawl-*"}, QDir::Files | QDir::Hidden), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Decode, WorkersHoldingArticles,
                         ::testing::Values(Command::Stop, Command::SkipArticle, Command::SkipGroup, Command::Close));

} // namespace

// Pictures saved faster than the thumbnails' gap: the first gets one at once,
// then only the newest dozen, in one batch after the gap.
TEST_F(EngineTest, ThumbnailsOfPicturesFasterThanTheGapOnlyTheNewest)
{
    struct Thumbs : TGrabEvents {
        int ThumbnailBox() const override { return 48; }
        void ThumbnailReady(const QString &path, const TThumbnailPixels &) override { paths << path; }
        QStringList paths;
    } thumbs;
    ManualClock clock; // all saved at one moment
    TGrabEngine e;
    e.SetEvents(&thumbs);
    TThumbnailQueue queue(e);
    const QByteArray jpeg = picture();
    for (int i = 0; i < 30; ++i)
        queue.Add(jpeg, QString::number(i));
    ASSERT_TRUE(WaitUntil([&] { return thumbs.paths.size() == 1; }, 10000));
    EXPECT_EQ(thumbs.paths, QStringList{"0"});
    clock.AdvanceMs(TThumbnailQueue::MinGapMs);
    ASSERT_TRUE(WaitUntil([&] { return thumbs.paths.size() == 13; }, 10000));
    EXPECT_EQ(thumbs.paths.mid(1).first(), "18");
    EXPECT_EQ(thumbs.paths.last(), "29");
}
