#include "AboutDlg.h"

#include "DialogCommon.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {
struct Release {
    const char *date;
    const char *version;
    QList<QStringList> notes; // each note, already broken into its lines
};

// Date, version and note in columns; a blank date for further notes of the
// same release, continuation lines under the note column.
QStringList formatReleases(const QList<Release> &releases)
{
    QStringList out;
    for (const Release &r : releases) {
        if (!out.isEmpty())
            out << QString();
        const QString date = QString::fromLatin1(r.date);
        bool first = true;
        for (const QStringList &note : r.notes) {
            const QString head = (first ? date : QString(date.size(), QLatin1Char(' '))) + QStringLiteral(" - ")
                                 + QString::fromLatin1(r.version) + QStringLiteral(" - ");
            out << head + note.first();
            for (qsizetype i = 1; i < note.size(); ++i)
                out << QString(head.size(), QLatin1Char(' ')) + note[i];
            first = false;
        }
    }
    return out;
}
}

QStringList RevisionHistory()
{
    return formatReleases({
        {"2026/12/08", "1.01.000",
         {
             {QStringLiteral("First release.")},
             {QStringLiteral("Walks the chosen groups from where the last"),
              QStringLiteral("search stopped, also after a restart.")},
             {QStringLiteral("Decodes uuencode, xxencode and Base64, also"),
              QStringLiteral("joined across several articles.")},
             {QStringLiteral("Drops files saved before: same size and"),
              QStringLiteral("same CRC-32.")},
             {QStringLiteral("Statistics window with pie charts of"),
              QStringLiteral("articles, bytes and hours per group.")},
         }},
    });
}

TdlgAbout::TdlgAbout(QWidget *owner) : QDialog(owner)
{
    pnAbout = new QFrame(this);
    pnAbout->setObjectName(QStringLiteral("pnAbout"));
    pnAbout->setFrameStyle(QFrame::Panel | QFrame::Raised);

    // Text in the palette's colours, so a dark palette stays readable.
    laTitle = new QLabel(pnAbout);
    laTitle->setObjectName(QStringLiteral("laTitle"));
    laTitle->setAlignment(Qt::AlignCenter);
    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPixelSize(24);
    laTitle->setFont(titleFont);

    laRevisions = new QListWidget(pnAbout);
    laRevisions->setObjectName(QStringLiteral("laRevisions"));
    QFont listFont(QStringLiteral("Courier New"));
    listFont.setStyleHint(QFont::TypeWriter);
    listFont.setFixedPitch(true);
    listFont.setPixelSize(11);
    laRevisions->setFont(listFont);
    laRevisions->setSelectionMode(QAbstractItemView::NoSelection);
    laRevisions->setFocusPolicy(Qt::NoFocus);
    laRevisions->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    laLicense = new QLabel(QStringLiteral("License: GPL-3.0-or-later"), pnAbout);
    laLicense->setObjectName(QStringLiteral("laLicense"));
    laLicense->setAlignment(Qt::AlignCenter);

    auto *inner = new QVBoxLayout(pnAbout);
    inner->setContentsMargins(2, 4, 2, 2);
    inner->setSpacing(4);
    inner->addWidget(laTitle);
    inner->addWidget(laRevisions, 1);
    inner->addWidget(laLicense);

    pnButtons = MakeOkPanel(this, 4, btOk);
    connect(btOk, &QPushButton::clicked, this, &TdlgAbout::btOkClick);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 5);
    outer->setSpacing(4);
    outer->addWidget(pnAbout, 1);
    outer->addWidget(pnButtons);

    FormCreate();
}

void TdlgAbout::FormCreate()
{
    laTitle->setText(QString::fromLatin1(AboutTitle));
    setWindowTitle(QString::fromLatin1(AboutCaption));
    laRevisions->addItems(RevisionHistory());
    // The list holds the history whole: wide enough for its longest line.
    int widest = 0;
    for (const QString &line : RevisionHistory())
        widest = qMax(widest, laRevisions->fontMetrics().horizontalAdvance(line));
    laRevisions->setMinimumWidth(widest + 2 * laRevisions->frameWidth() + 8);
    FitFixedDialog(this, 487, 257);
    CentreOverOwner(this, parentWidget());
}

void TdlgAbout::btOkClick() { accept(); }
