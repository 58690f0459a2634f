#pragma once
#include <QByteArray>
#include <QList>

#include "NntpParse.h"

// What one connection learns about its server's overview: the verb that works
// (OVER, else XOVER) and where LIST OVERVIEW.FMT puts the fields. A new
// connection starts over: another server may answer behind the same name.
class TOverviewDialect {
public:
    void Forget() { *this = TOverviewDialect(); }

    bool FormatKnown() const { return formatKnown_; }
    // The field list as the server sent it; unlisted, RFC 3977's order.
    void TakeFormat(bool listed, const QList<QByteArray> &lines);
    const Nntp::OverviewFormat &Format() const { return format_; }

    // The verbs to try, in order: both until one has answered, then that one.
    QList<QByteArray> Verbs() const;
    // Judges verb's reply: true when it is an answer (the verb is kept from
    // then on), false when the next verb, if any, is to be tried.
    bool Answered(const QByteArray &verb, bool ok, const QByteArray &status);
    // A verb has answered before: its failure now is the overview's, not the verb's.
    bool Settled() const { return !verb_.isEmpty(); }

private:
    QByteArray verb_;
    bool formatKnown_ = false;
    Nntp::OverviewFormat format_;
};
