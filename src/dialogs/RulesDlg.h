#pragma once
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Edits "Rules.dat" as text: each bad line is named as it is typed, and a
// test box shows what the rules make of a subject (with a size and poster
// if given). The file is written only on Ok.
class TdlgRules : public QDialog {
    Q_OBJECT
public:
    TdlgRules(QWidget *owner, const QString &path);

    QLabel *laRules;
    QPlainTextEdit *edRules;
    QLabel *laErrors;
    QPushButton *btPictures;
    QLabel *laSubject;
    QLineEdit *tbSubject;
    QLabel *laSize;
    QLineEdit *tbSize;
    QLabel *laPoster;
    QLineEdit *tbPoster;
    QLabel *laVerdict;
    QPushButton *btOk;
    QPushButton *btCancel;

    // The extensions "Pictures only" takes.
    static const QList<QByteArray> &PictureExtensions();

    void btPicturesClick();
    void btOkClick();
    void edRulesChange();
    void TestChange();

private:
    QString Path;
};
