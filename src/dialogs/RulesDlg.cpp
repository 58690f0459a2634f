#include "RulesDlg.h"

#include "DialogCommon.h"
#include "TRuleSet.h"
#include "ZqLinesFile.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>

namespace {
QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QWidget *buddy = nullptr)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    if (buddy)
        l->setBuddy(buddy);
    return l;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &hint)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setPlaceholderText(hint);
    return e;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setMinimumWidth(qMax(96, b->sizeHint().width()));
    b->setAutoDefault(false);
    return b;
}
} // namespace

TdlgRules::TdlgRules(QWidget *owner, const QString &path) : QDialog(owner), Path(path)
{
    setWindowTitle(QStringLiteral("Rules"));
    setObjectName(QStringLiteral("dlgRules"));

    edRules = new QPlainTextEdit(this);
    edRules->setObjectName(QStringLiteral("edRules"));
    edRules->setTabChangesFocus(true);
    edRules->setLineWrapMode(QPlainTextEdit::NoWrap);
    edRules->setPlaceholderText(QStringLiteral("skip bytes > 20M\nskip from contains @spam.example\nonly ext is jpg"));
    laRules = makeLabel(this, "laRules",
                        QStringLiteral("&Rules, one a line: skip or only, then field, test and value "
                                       "(fields subject, from, name, ext, bytes, lines, age, group; "
                                       "tests contains, is, matches, <, >; conditions joined by and):"),
                        edRules);
    laRules->setWordWrap(true);
    laErrors = makeLabel(this, "laErrors", QString());
    laErrors->setWordWrap(true);
    laErrors->setTextFormat(Qt::PlainText);
    btPictures = makeButton(this, "btPictures", QStringLiteral("&Pictures only"));

    tbSubject = makeEdit(this, "tbSubject", QStringLiteral("[01/20] - \"sunset.jpg\" yEnc (1/4)"));
    laSubject = makeLabel(this, "laSubject", QStringLiteral("&Subject:"), tbSubject);
    tbSize = makeEdit(this, "tbSize", QStringLiteral("optional, as 700K"));
    laSize = makeLabel(this, "laSize", QStringLiteral("Si&ze:"), tbSize);
    tbPoster = makeEdit(this, "tbPoster", QStringLiteral("optional"));
    laPoster = makeLabel(this, "laPoster", QStringLiteral("Pos&ter:"), tbPoster);
    laVerdict = makeLabel(this, "laVerdict", QString());
    laVerdict->setWordWrap(true);
    laVerdict->setTextFormat(Qt::PlainText);

    btOk = makeButton(this, "btOk", QStringLiteral("&Ok"));
    btOk->setDefault(true);
    btCancel = makeButton(this, "btCancel", QStringLiteral("&Cancel"));

    auto *presetRow = new QHBoxLayout;
    presetRow->addWidget(btPictures);
    presetRow->addStretch();

    auto *test = new QGridLayout;
    test->addWidget(makeLabel(this, "laTest", QStringLiteral("Test an article against the rules above:")), 0, 0, 1, 4);
    test->addWidget(laSubject, 1, 0);
    test->addWidget(tbSubject, 1, 1, 1, 3);
    test->addWidget(laSize, 2, 0);
    test->addWidget(tbSize, 2, 1);
    test->addWidget(laPoster, 2, 2);
    test->addWidget(tbPoster, 2, 3);
    test->addWidget(laVerdict, 3, 0, 1, 4);
    test->setColumnStretch(1, 1);
    test->setColumnStretch(3, 2);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btOk);
    buttons->addWidget(btCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(laRules);
    layout->addWidget(edRules, 1);
    layout->addWidget(laErrors);
    layout->addLayout(presetRow);
    layout->addSpacing(6);
    layout->addLayout(test);
    layout->addLayout(buttons);

    QWidget *order[] = {edRules, btPictures, tbSubject, tbSize, tbPoster, btOk, btCancel};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(edRules, &QPlainTextEdit::textChanged, this, &TdlgRules::edRulesChange);
    connect(tbSubject, &QLineEdit::textChanged, this, &TdlgRules::TestChange);
    connect(tbSize, &QLineEdit::textChanged, this, &TdlgRules::TestChange);
    connect(tbPoster, &QLineEdit::textChanged, this, &TdlgRules::TestChange);
    connect(btPictures, &QPushButton::clicked, this, &TdlgRules::btPicturesClick);
    connect(btOk, &QPushButton::clicked, this, &TdlgRules::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The file as it stands; one that cannot be read is an empty list.
    QByteArray text;
    for (const QByteArray &line : ReadLinesFile(Path))
        text += line + '\n';
    edRules->setPlainText(QString::fromUtf8(text));
    edRulesChange();
    resize(560, 460);
    CentreOverOwner(this, owner);
}

const QList<QByteArray> &TdlgRules::PictureExtensions()
{
    static const QList<QByteArray> list{"jpg", "jpeg", "png", "gif", "webp", "bmp"};
    return list;
}

void TdlgRules::btPicturesClick()
{
    // Only the lines not there yet, so pressing it twice adds nothing.
    QString text = edRules->toPlainText();
    const QStringList have = text.split('\n');
    for (const QByteArray &ext : PictureExtensions()) {
        const QString line = QStringLiteral("only ext is ") + QString::fromLatin1(ext);
        if (have.contains(line))
            continue;
        if (!text.isEmpty() && !text.endsWith('\n'))
            text += '\n';
        text += line + '\n';
    }
    edRules->setPlainText(text);
}

void TdlgRules::edRulesChange()
{
    const TRuleSet set = TRuleSet::Parse(edRules->toPlainText().toUtf8());
    QStringList lines;
    if (!set.Warning().isEmpty())
        lines << QStringLiteral("Warning: ") + set.Warning();
    for (const TRuleSet::Error &e : set.Errors())
        lines << QStringLiteral("Line %1: %2 (the line is ignored)").arg(e.line).arg(e.message);
    laErrors->setText(lines.join('\n'));
    laErrors->setVisible(!lines.isEmpty());
    TestChange();
}

void TdlgRules::TestChange()
{
    if (tbSubject->text().isEmpty()) {
        laVerdict->setText(QStringLiteral("Type or paste a subject to see which rule decides."));
        return;
    }
    TRuleFacts facts;
    facts.subject = tbSubject->text().toUtf8();
    facts.from = tbPoster->text().toUtf8();
    const QByteArray size = tbSize->text().toUtf8().trimmed();
    if (!size.isEmpty() && !TRuleSet::ParseSize(size, facts.bytes)) {
        laVerdict->setText(QStringLiteral("The size is not a number (as 700K, 3M or 1G)."));
        return;
    }
    const TRuleSet set = TRuleSet::Parse(edRules->toPlainText().toUtf8());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    laVerdict->setText(set.Explain(facts, set.Decide(facts, now), now));
}

void TdlgRules::btOkClick()
{
    QList<QByteArray> lines = edRules->toPlainText().toUtf8().split('\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    WriteLinesFile(Path, lines);
    accept();
}
