#pragma once
#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

// What one search run did, as the window's summary line says it.
struct TRunSummary {
    int Saved = 0;
    int Duplicates = 0;
    int Filtered = 0;
    int Groups = 0;
    // Groups the server would not select, with its words for why.
    struct Skip {
        QByteArray Group;
        QString Why;
    };
    QList<Skip> Skipped;
    // The files the run saved, so a file saved again (the same bytes over
    // it) is one picture, not two: Saved counts what is in the folder.
    QSet<QByteArray> SavedFiles;

    // Counts a picture saved at path, unless the run saved one there before.
    void CountSaved(const QByteArray &path);

    // "Saved 12 pictures, 3 duplicates, 40 filtered in 2 groups", then
    // "; 2 groups skipped: alt.x (no such group), alt.y (no such group)".
    QString Text() const;
    // The second part alone; empty when no group was skipped.
    QString SkippedText() const;
};
