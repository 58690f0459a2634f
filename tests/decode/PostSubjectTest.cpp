#include "PostSubject.h"

#include <gtest/gtest.h>

TEST(PostSubject, PartMarkers)
{
    const struct {
        QByteArray subject;
        int part, total;
        QByteArray post;
    } cases[] = {
        {"multi64.jpg (1/3)", 1, 3, "multi64.jpg (#/3)"},
        {"multi64.jpg [2/3]", 2, 3, "multi64.jpg [#/3]"},
        {"multi64.jpg - 3 of 3", 3, 3, "multi64.jpg - # of 3"},
        {"cat.jpg ( 02 / 12 )", 2, 12, "cat.jpg ( # / 12 )"},
        {"[03/12] - \"cat.jpg\" (1/2)", 1, 2, "[03/12] - \"cat.jpg\" (#/2)"}, // the last marker is the part's
        {"cat.jpg 1 OF 2", 1, 2, "cat.jpg # OF 2"},
        {"cat.jpg", 0, 0, ""},
        {"cat.jpg (4/3)", 0, 0, ""},    // more than the total
        {"cat.jpg (0/3)", 0, 0, ""},
        {"cat.jpg (1/3", 0, 0, ""},     // not closed
        {"photo of 1999", 0, 0, ""},    // "of" without a part number before it
        {"a1 of 2b", 0, 0, ""},         // inside words
        {"cat.jpg (1/3) and (4/3)", 1, 3, "cat.jpg (#/3) and (4/3)"},
        {"x (1234567/9999999)", 0, 0, ""}, // numbers too long to be parts
    };
    for (const auto &c : cases) {
        const PartMarker m = ParsePartMarker(c.subject);
        EXPECT_EQ(m.Part, c.part) << c.subject.constData();
        EXPECT_EQ(m.Total, c.total) << c.subject.constData();
        EXPECT_EQ(m.Post, c.post) << c.subject.constData();
    }
    // Parts of one post share the post; another post does not.
    EXPECT_EQ(ParsePartMarker("sun.jpg (1/3)").Post, ParsePartMarker("sun.jpg (3/3)").Post);
    EXPECT_NE(ParsePartMarker("sun.jpg (1/3)").Post, ParsePartMarker("moon.jpg (1/3)").Post);
}

TEST(PostSubject, AnnouncedNames)
{
    const struct {
        QByteArray subject, name;
    } cases[] = {
        {"forest.jpg - bare Base64", "forest.jpg"},
        {"Holiday \"beach day.jpg\" yEnc (1/1)", "beach day.jpg"},
        {"[1/5] - \"notes\" - pier.png", "pier.png"},         // a word like a name beats a quote that is not
        {"just \"a title\"", "a title"},
        {"see www.example.org for cat.jpeg", "cat.jpeg"},     // a picture's extension first
        {"see www.example.org", "www.example.org"},
        {"(sunset.JPG)", "sunset.JPG"},
        {"version 3.5 is out", ""},
        {"Mr.Smith on holiday", ""},                          // five letters are no extension
        {"no name here", ""},
        {"\"   \"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AnnouncedName(c.subject), c.name) << c.subject.constData();
}

TEST(PostSubject, UsableNames)
{
    EXPECT_TRUE(UsableName("cat.jpg"));
    EXPECT_TRUE(UsableName("K\xC3\xA4tzchen.jpg")); // UTF-8
    EXPECT_FALSE(UsableName(""));
    EXPECT_FALSE(UsableName("  \t "));
    EXPECT_FALSE(UsableName("K\xE4tzchen.jpg")); // Latin-1 is not the file system's encoding
}

TEST(PostSubject, Base64NamesAndWholePictures)
{
    EXPECT_EQ(Base64FileName("own.jpg", "subject.jpg"), "own.jpg");
    EXPECT_EQ(Base64FileName("  ", "see subject.jpg"), "subject.jpg");
    EXPECT_EQ(Base64FileName("", "no name"), "");
    EXPECT_TRUE(IsWholePicture(QByteArray("\xFF\xD8\xFF\xE0 data \xFF\xD9", 12)));
    EXPECT_FALSE(IsWholePicture(QByteArray("\xFF\xD8\xFF\xE0 first part", 15)));
    EXPECT_FALSE(IsWholePicture(QByteArray("last part \xFF\xD9", 12)));
    EXPECT_TRUE(IsWholePicture(QByteArray("\x89PNG\r\n\x1A\n...IEND\xAE\x42\x60\x82", 19)));
}
