#include "TFrmMainUi.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace {

// Heights as designed for an 11-pixel font; a larger font makes the text
// lines, and the panels holding them, taller.
constexpr int kDesignLine = 13;
constexpr int kButtonHeight = 26;
constexpr int kPreviewButtonWidth = 111;

QFrame *makePanel(QWidget *parent, const char *name, int shape = QFrame::NoFrame, int shadow = QFrame::Plain)
{
    auto *f = new QFrame(parent);
    f->setObjectName(QLatin1String(name));
    f->setFrameStyle(shape | shadow);
    return f;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, bool bold)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    l->setTextFormat(Qt::PlainText);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QProgressBar *makeBar(QWidget *parent, const char *name)
{
    auto *b = new QProgressBar(parent);
    b->setObjectName(QLatin1String(name));
    b->setRange(0, 100);
    b->setValue(0);
    b->setTextVisible(false);
    return b;
}

QAction *addItem(QMenu *menu, const char *name, const QString &text, int key = 0)
{
    QAction *a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    if (key)
        a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(key)));
    return a;
}

QMenu *addMenu(QMenuBar *bar, const char *name, const QString &title)
{
    QMenu *m = bar->addMenu(title);
    m->setObjectName(QLatin1String(name));
    return m;
}

} // namespace

void TFrmMainUi::SetupUi(QMainWindow *window)
{
    bvOuter = makePanel(window, "bvOuter", QFrame::Box, QFrame::Sunken);
    window->setCentralWidget(bvOuter);

    pnToolbar = makePanel(bvOuter, "pnToolbar");
    pnButtons = makePanel(pnToolbar, "pnButtons");
    btSkipArticle = new QPushButton(QStringLiteral("S&kip Article"), pnButtons);
    btSkipArticle->setObjectName(QStringLiteral("btSkipArticle"));
    btSkipGroup = new QPushButton(QStringLiteral("Skip G&roup"), pnButtons);
    btSkipGroup->setObjectName(QStringLiteral("btSkipGroup"));
    btStop = new QPushButton(QStringLiteral("&Stop Searching"), pnButtons);
    btStop->setObjectName(QStringLiteral("btStop"));
    for (QPushButton *b : {btSkipArticle, btSkipGroup, btStop}) {
        b->setEnabled(false);
        b->setFocusPolicy(Qt::TabFocus);
    }

    pnStatus = makePanel(bvOuter, "pnStatus", QFrame::Panel, QFrame::Raised);
    pnArticle = makePanel(pnStatus, "pnArticle", QFrame::Panel, QFrame::Sunken);
    laGroup = makeLabel(pnArticle, "laGroup", QStringLiteral("Groups Completed"), true);
    pbGroup = makeBar(pnArticle, "pbGroup");
    laArticle = makeLabel(pnArticle, "laArticle", QStringLiteral("Articles Completed"), true);
    pbArticle = makeBar(pnArticle, "pbArticle");
    laArticleName = makeLabel(pnArticle, "laArticleName", QString(), false);
    laSubject = makeLabel(pnArticle, "laSubject", QString(), false);
    laGroupName = makeLabel(pnStatus, "laGroupName", QString(), false);

    pnData = makePanel(bvOuter, "pnData", QFrame::Panel, QFrame::Raised);
    pnPicture = makePanel(pnData, "pnPicture", QFrame::Panel, QFrame::Sunken);
    QPalette black = pnPicture->palette();
    black.setColor(QPalette::Window, Qt::black);
    pnPicture->setPalette(black);
    pnPicture->setAutoFillBackground(true);
    btPreview = new QPushButton(QStringLiteral("Disable &Preview"), pnData);
    btPreview->setObjectName(QStringLiteral("btPreview"));

    mnMain = window->menuBar();
    mnMain->setObjectName(QStringLiteral("mnMain"));
    mnFile = addMenu(mnMain, "mnFile", QStringLiteral("&File"));
    miConnect = addItem(mnFile, "miConnect", QStringLiteral("&Connect"), Qt::Key_C);
    miDisconnect = addItem(mnFile, "miDisconnect", QStringLiteral("&Disconnect"), Qt::Key_D);
    mnFile->addSeparator();
    miExit = addItem(mnFile, "miExit", QStringLiteral("Exit"), Qt::Key_X);
    // The desktop's own quit key beside the designed one.
    miExit->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)});

    mnGroups = addMenu(mnMain, "mnGroups", QStringLiteral("&Groups"));
    miSearchAllGroups = addItem(mnGroups, "miSearchAllGroups", QStringLiteral("Search &All Groups"), Qt::Key_A);
    mnGroups->addSeparator();
    miClearArticles = addItem(mnGroups, "miClearArticles", QStringLiteral("&Clear Articles"));
    miClearArticles->setEnabled(false);
    miConfigureGroups = addItem(mnGroups, "miConfigureGroups", QStringLiteral("Configure &Groups"), Qt::Key_G);
    mnGroups->setEnabled(false);
    mnGroups->menuAction()->setEnabled(false);

    mnOptions = addMenu(mnMain, "mnOptions", QStringLiteral("&Options"));
    miStatistics = addItem(mnOptions, "miStatistics", QStringLiteral("Statistics"));
    miFilters = addItem(mnOptions, "miFilters", QStringLiteral("Filters"));
    miRules = addItem(mnOptions, "miRules", QStringLiteral("Rules"));
    miConfiguration = addItem(mnOptions, "miConfiguration", QStringLiteral("Configuration"));

    mnHelp = addMenu(mnMain, "mnHelp", QStringLiteral("&Help"));
    miHelp = addItem(mnHelp, "miHelp", QStringLiteral("Pixtrawl &Help"));
    miHelp->setShortcut(QKeySequence::HelpContents);
    mnHelp->addSeparator();
    mnAbout = addItem(mnHelp, "mnAbout", QStringLiteral("&About"));
}

int TFrmMainUi::LineHeight() const
{
    return qMax(kDesignLine, laArticleName->fontMetrics().height() + 1);
}

QSize TFrmMainUi::ButtonSize() const
{
    QSize size(kPreviewButtonWidth, kButtonHeight);
    for (const QPushButton *b : {btSkipArticle, btSkipGroup, btStop, btPreview})
        size = size.expandedTo(b->sizeHint());
    return size;
}

int TFrmMainUi::StatusHeight() const
{
    // Three lines under the column titles: bar, article, subject (81 at 13).
    return 5 + LineHeight() + 4 + 15 + 3 + 2 * LineHeight() + 1 + 6 + 8;
}

void TFrmMainUi::LayOutUi()
{
    const int cw = bvOuter->width();
    const int ch = bvOuter->height();
    const int line = LineHeight();

    // Buttons as designed, or as large as their captions need in a larger font.
    const QSize button = ButtonSize();
    int x = 0;
    for (QPushButton *b : {btSkipArticle, btSkipGroup, btStop}) {
        b->setGeometry(x, 0, button.width(), button.height());
        x += button.width() + 4;
    }
    pnButtons->setGeometry(4, 2, x - 4, button.height());
    pnToolbar->setGeometry(0, 0, cw, button.height() + 4);
    const int toolbarBottom = pnToolbar->y() + pnToolbar->height();

    pnStatus->setGeometry(4, toolbarBottom + 4, cw - 8, StatusHeight());
    pnArticle->setGeometry(4, 4, pnStatus->width() - 8, StatusHeight() - 8);
    const int aw = pnArticle->width();
    const int groupWidth = int(std::lround((aw - 18) * 0.5));
    const int barTop = 5 + line + 4;
    const int nameTop = barTop + 15 + 3;
    laGroup->setGeometry(6, 5, groupWidth, line);
    pbGroup->setGeometry(6, barTop, laGroup->width(), 15);
    const int articleLeft = laGroup->x() + laGroup->width() + 6;
    const int articleWidth = aw - laGroup->width() - 18;
    laArticle->setGeometry(articleLeft, 5, articleWidth, line);
    pbArticle->setGeometry(articleLeft, barTop, articleWidth, 15);
    laArticleName->setGeometry(6, nameTop, aw - 12, line);
    laSubject->setGeometry(6, nameTop + line + 1, aw - 12, line);
    // Below the panel's visible area: holds the group name for the log, never seen.
    laGroupName->setGeometry(4, StatusHeight() + 4, pnStatus->width() - 8, line);

    pnData->setGeometry(4, pnStatus->y() + pnStatus->height() + 4, cw - 8,
                        ch - pnStatus->height() - pnToolbar->height() - 12);
    pnPicture->setGeometry(4, 4, pnData->width() - 8, pnData->height() - 8);
    btPreview->setGeometry(pnPicture->width() - button.width() - 4, pnPicture->height() - button.height() - 4,
                           button.width(), button.height());
}
