#pragma once
#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

// What an article is judged by before its body is asked for: the overview's
// fields, or a header's when there is no overview.
struct TRuleFacts {
    QByteArray subject;
    QByteArray from;
    QByteArray date;  // as posted (RFC 2822)
    QByteArray group;
    qint64 bytes = -1; // the article's own size; -1 unknown
    qint64 lines = -1; // -1 unknown
};

// The rules of "Rules.dat", one a line: "skip|only FIELD TEST VALUE [and
// FIELD TEST VALUE]...". Parsed once into conditions that need no further
// parsing, so judging an article costs only the comparisons themselves.
class TRuleSet {
public:
    enum Action { Skip, Only };
    enum Field { Subject, From, Name, Ext, Group, Bytes, Lines, Age, FieldCount };
    enum Test { Contains, Is, Matches, Less, Greater };

    struct Condition {
        Field field = Subject;
        Test test = Contains;
        QByteArray text;        // lower case UTF-8, for contains and is
        QRegularExpression re;  // for matches
        double number = 0;      // for < and >: bytes, lines, or days of age
        QList<quint16> pairs;   // of text: letter pairs that must all be in the field (see Seen)
        int prefilter = -1;     // of matches: the alternation of its kind that must match first
    };
    struct Rule {
        int line = 0; // in the file, from 1: how the user finds it
        Action action = Skip;
        QByteArray text; // as written
        QList<Condition> conditions;
    };
    struct Error {
        int line = 0;
        QString message; // "unknown field 'size'"
    };
    struct Verdict {
        bool skip = false;
        const Rule *rule = nullptr; // the deciding rule; null when none decided
        int gaveUp = 0; // line of the first rule whose pattern match was given up on, else 0
    };

    static TRuleSet Parse(const QByteArray &text);
    const QList<Rule> &Rules() const { return rules_; }
    const QList<Error> &Errors() const { return errors_; }
    // Past WarnRules rules or WarnBytes the file works but costs every
    // article dearly: said once, with the errors. Past MaxBytes the rest
    // is not read.
    static constexpr int WarnRules = 5000;
    static constexpr qsizetype WarnBytes = qsizetype(1) << 20;
    static constexpr qsizetype MaxBytes = qsizetype(2) << 20;
    const QString &Warning() const { return warning_; }
    bool IsEmpty() const { return rules_.isEmpty(); }

    // Skip rules first, the first that holds decides; then, with any only
    // rule, the article must meet one. nowSecs: the clock, in seconds since
    // the epoch, for age.
    Verdict Decide(const TRuleFacts &facts, qint64 nowSecs) const;

    // The log's words for a skip: "Skipped by rule 3: skip bytes > 20M".
    static QByteArray LogLine(const Verdict &verdict);
    // The log's words for a pattern given up on; empty when none was.
    static QByteArray GaveUpLine(const Verdict &verdict);
    // What the deciding rule's fields were for this article, for the test box.
    QString Explain(const TRuleFacts &facts, const Verdict &verdict, qint64 nowSecs) const;

    // The fields as the rules see them.
    static QByteArray NameOf(const QByteArray &subject); // "" when the subject names no file
    static QByteArray ExtOf(const QByteArray &name);     // lower case, without the dot
    static qint64 EstimatedBytes(const QByteArray &subject, qint64 bytes); // x n for part k of n
    static bool ParseSize(const QByteArray &text, qint64 &bytes);        // "20M", as a bytes rule reads it
    static qint64 AgeSecs(const QByteArray &date, qint64 nowSecs);       // -1 when the date is unreadable

private:
    void combinePatterns();

    QList<Rule> rules_;
    QList<Error> errors_;
    QString warning_;
    // The patterns of one field and action as one alternation: when it does
    // not match, none of them does, which one match call tells.
    QList<QRegularExpression> prefilters_;
    bool anyOnly_ = false;
};
