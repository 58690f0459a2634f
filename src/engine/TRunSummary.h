#pragma once
#include <QString>

// What one search run did, as the window's summary line says it.
struct TRunSummary {
    int Saved = 0;
    int Duplicates = 0;
    int Filtered = 0;
    int Groups = 0;

    // "Saved 12 pictures, 3 duplicates, 40 filtered in 2 groups"
    QString Text() const;
};
