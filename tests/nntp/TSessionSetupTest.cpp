#include "TSessionSetup.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

using Next = TSessionSetup::Next;

struct SetupCase {
    const char *name;
    QByteArray user;
    QList<QByteArray> replies;  // replies, in order; a multi-line one's lines joined by '\n'
    QList<QByteArray> commands; // what the set-up sends, in order
    Next outcome;
    bool compress = false;   // compression wanted
    bool compressed = false; // and begun
};

const QByteArray kOffers = "101 caps\nVERSION 2\nREADER\ncompress  gzip deflate\n.";
const QByteArray kCaps = "CAPABILITIES\r\n", kCompress = "COMPRESS DEFLATE\r\n";

// Each row: the server's replies -> the commands sent and how the set-up ends.
const SetupCase kCases[] = {
    {"ReaderWithoutLogin", "", {"200 ready", "200 reader"}, {"MODE READER\r\n"}, Next::Done},
    {"PostingNotAllowedIsFine", "", {"201 no posting", "201 reader"}, {"MODE READER\r\n"}, Next::Done},
    {"ModeReaderUnknownIsAReaderAnyway", "", {"200 ready", "500 what?"}, {"MODE READER\r\n"}, Next::Done},
    {"GreetingRefused", "", {"502 go away"}, {}, Next::ServerRefused},
    {"NoReadingHere", "", {"200 ready", "502 transit only"}, {"MODE READER\r\n"}, Next::ServerRefused},
    {"LoginAskedWithoutUser", "", {"200 ready", "480 login first"}, {"MODE READER\r\n"}, Next::LoginRequired},
    {"UserAndPassword",
     "me",
     {"200 ready", "200 reader", "381 password?", "281 welcome"},
     {"MODE READER\r\n", "AUTHINFO USER me\r\n", "AUTHINFO PASS secret\r\n"},
     Next::Done},
    {"UserAloneSuffices", "me", {"200 ready", "480 login first", "281 ok"},
     {"MODE READER\r\n", "AUTHINFO USER me\r\n"}, Next::Done},
    {"UserRefused", "me", {"200 ready", "200 reader", "481 no"}, {"MODE READER\r\n", "AUTHINFO USER me\r\n"},
     Next::LoginRefused},
    {"PasswordRefused",
     "me",
     {"200 ready", "200 reader", "381 password?", "481 wrong"},
     {"MODE READER\r\n", "AUTHINFO USER me\r\n", "AUTHINFO PASS secret\r\n"},
     Next::LoginRefused},
    {"CompressedWhenOffered", "", {"200 ready", "200 reader", kOffers, "206 on"},
     {"MODE READER\r\n", kCaps, kCompress}, Next::Done, true, true},
    {"CompressedAfterTheLogin", "me", {"200 ready", "200 reader", "281 ok", kOffers, "206 on"},
     {"MODE READER\r\n", "AUTHINFO USER me\r\n", kCaps, kCompress}, Next::Done, true, true},
    {"NotOffered", "", {"200 ready", "200 reader", "101 caps\nVERSION 2\nCOMPRESSION DEFLATE\n."},
     {"MODE READER\r\n", kCaps}, Next::Done, true},
    {"OtherMethodsOnly", "", {"200 ready", "200 reader", "101 caps\nCOMPRESS GZIP\n."},
     {"MODE READER\r\n", kCaps}, Next::Done, true},
    {"NoCapabilitiesCommand", "", {"200 ready", "200 reader", "500 what?"}, {"MODE READER\r\n", kCaps},
     Next::Done, true},
    {"CompressRefused", "", {"200 ready", "200 reader", kOffers, "403 not now"},
     {"MODE READER\r\n", kCaps, kCompress}, Next::Done, true},
    {"NotWantedNotAsked", "", {"200 ready", "200 reader"}, {"MODE READER\r\n"}, Next::Done},
};

class SessionSetupTable : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SessionSetupTable, RepliesLeadToCommandsAndOutcome)
{
    const SetupCase &c = GetParam();
    TSessionSetup setup;
    setup.Start(c.user, "secret", c.compress);
    QList<QByteArray> sent;
    TSessionSetup::Step step;
    for (const QByteArray &reply : c.replies) {
        ASSERT_TRUE(setup.Active()) << "still fed after it ended: " << reply.constData();
        // Fed as the lines come: a multi-line reply is waited for to its end.
        const QList<QByteArray> lines = reply.split('\n');
        for (qsizetype n = 1; n <= lines.size(); ++n) {
            step = setup.Reply(lines.mid(0, n));
            if (n < lines.size()) {
                ASSERT_EQ(step.next, Next::Wait) << reply.constData();
            }
        }
        if (step.next == Next::Send)
            sent << step.command;
    }
    EXPECT_EQ(sent, c.commands);
    EXPECT_EQ(step.next, c.outcome);
    EXPECT_EQ(step.compressed, c.compressed);
    EXPECT_FALSE(setup.Active());
    // What a finished set-up leaves as the reply in hand.
    if (c.outcome == Next::Done) {
        EXPECT_EQ(setup.Greeting(), c.replies.first());
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, SessionSetupTable, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
