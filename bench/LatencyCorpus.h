#pragma once
#include "InnServer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// The group latency_bench walks: 1,000 articles in a fixed shuffled order,
//  - 500 text articles of about 2 KB,
//  - 100 whose subject holds the run's filter string,
//  - 300 photographs of about 200 KB, each one yEnc article,
//  - 25 photographs of about 200 KB, each in 4 yEnc parts ("name" yEnc (k/4)).
// The photographs are Debian's mate-backgrounds nature pictures, re-encoded
// by Qt to the size and made distinct by noise in a comment segment, so the
// same run gives the same bytes every time (a group posted by an earlier
// run can be walked again).
struct LatencyCorpus {
    static constexpr int Articles = 1000;
    static const QByteArray Filter;

    QList<InnServer::Article> articles;
    QHash<QByteArray, QByteArray> pictures; // file name: its bytes
    int wanted = 0;         // articles not filtered
    qint64 wantedBytes = 0; // their bodies as sent, dot-stuffed, "." line included

    // What a grab saved in a folder: its files, those not as posted (or not
    // of the corpus) and the pictures not there.
    struct Saved {
        int files = 0, wrong = 0, missing = 0;
        bool Intact() const { return wrong == 0 && missing == 0; }
    };

    static bool Filtered(const QByteArray &subject);
    // False (and why) when the photographs are missing or sabyenc does not
    // decode every yEnc body to the bytes it was made from.
    bool Make(QString *error);
    // The group's pointer once a grab has walked it all ("<number>,<message
    // id>+"); empty unless the server lists the group as these articles.
    QByteArray LastPointer(quint16 port, const QByteArray &group) const;
    Saved Check(const QString &folder) const;
};
