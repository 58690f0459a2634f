#include "SafeText.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *what;
    QByteArray in;
    const char *shown;    // UTF-8
    const char *fileName; // bytes
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.what; }

class SafeTextTable : public ::testing::TestWithParam<Case> {};

TEST_P(SafeTextTable, ShowsAndNamesOnlyWhatIsSafe)
{
    const Case &c = GetParam();
    const QString shown = QString::fromUtf8(c.shown);
    EXPECT_EQ(SafeText::Shown(c.in), shown);
    // Text that was decoded before (lone surrogates aside) is cleaned alike.
    if (QString::fromUtf8(c.in).toUtf8() == c.in) {
        EXPECT_EQ(SafeText::Shown(QString::fromUtf8(c.in)), shown);
    }
    EXPECT_EQ(SafeText::ForFileName(c.in), QByteArray(c.fileName));
    // What is shown once is safe to show again unchanged.
    EXPECT_EQ(SafeText::Shown(shown), shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SafeTextTable,
    ::testing::Values(
        Case{"ascii", "alt.binaries.pictures", "alt.binaries.pictures", "alt.binaries.pictures"},
        Case{"letters of other scripts", "Grüße Ελλάδα 日本 مرحبا", "Grüße Ελλάδα 日本 مرحبا", "Grüße Ελλάδα 日本 مرحبا"},
        Case{"joiners and emoji", "\xd9\x85\xe2\x80\x8c\xd9\x86 \xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9",
             "\xd9\x85\xe2\x80\x8c\xd9\x86 \xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9",
             "\xd9\x85\xe2\x80\x8c\xd9\x86 \xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9"},
        Case{"title, clear, colour", "200 \x1b]0;owned\x07 \x1b[2J\x1b[31mred",
             "200 ␛]0;owned␇ ␛[2J␛[31mred", "200 _]0;owned_ _[2J_[31mred"},
        Case{"backspace, bare CR, tab, NUL, DEL", QByteArray("a\x08\x08x\rb\tc\0d\x7f", 11), "a␈␈x␍b␉c␀d␡",
             "a__x_b_c_d_"},
        Case{"C1 controls (CSI) as characters", "a\xc2\x9b" "2Jb\xc2\x85", "a�2Jb�", "a_2Jb_"},
        Case{"bidi override hides an extension", "\xe2\x80\xaegpj.exe", "�gpj.exe", "_gpj.exe"},
        Case{"embeddings, isolates, marks", "\xe2\x80\x8e\xe2\x80\x8f\xe2\x80\xaa\xe2\x81\xa6x\xe2\x81\xa9\xd8\x9c",
             "����x��", "____x__"},
        Case{"byte order mark, soft hyphen, line separator", "\xef\xbb\xbf" "a\xc2\xad" "b\xe2\x80\xa8" "c",
             "�a�b�c", "_a_b_c"},
        Case{"Latin-1 bytes are not UTF-8", "caf\xe9 na\xefve", "caf� na�ve", "caf_ na_ve"},
        Case{"overlong slash, surrogate, cut sequence", "\xc0\xaf|\xed\xa0\x80|\xe6\x97", "��|���|��",
             "__|___|__"},
        Case{"raw C1 byte", "x\x9b" "2J", "x�2J", "x_2J"}));

TEST(SafeText, ALoneSurrogateInTextIsNotShown)
{
    const QString lone = QStringLiteral("a") + QChar(char16_t(0xD800)) + QStringLiteral("b");
    EXPECT_EQ(SafeText::Shown(lone), QStringLiteral("a\uFFFDb"));
}

} // namespace
