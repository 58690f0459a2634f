#include "TRuleSet.h"

#include "PostSubject.h"

#include <QDateTime>

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

constexpr qint64 SecsPerDay = 86400;

struct Named {
    const char *name;
    int value;
};

constexpr std::array<Named, 8> FieldNames{{{"subject", TRuleSet::Subject},
                                           {"from", TRuleSet::From},
                                           {"name", TRuleSet::Name},
                                           {"ext", TRuleSet::Ext},
                                           {"group", TRuleSet::Group},
                                           {"bytes", TRuleSet::Bytes},
                                           {"lines", TRuleSet::Lines},
                                           {"age", TRuleSet::Age}}};
constexpr std::array<Named, 5> TestNames{{{"contains", TRuleSet::Contains},
                                          {"is", TRuleSet::Is},
                                          {"matches", TRuleSet::Matches},
                                          {"<", TRuleSet::Less},
                                          {">", TRuleSet::Greater}}};

template <size_t N>
int lookUp(const std::array<Named, N> &names, const QByteArray &word)
{
    for (const Named &n : names)
        if (word == n.name)
            return n.value;
    return -1;
}

const char *fieldName(TRuleSet::Field f)
{
    for (const Named &n : FieldNames)
        if (n.value == f)
            return n.name;
    return "";
}

bool isNumeric(TRuleSet::Field f) { return f >= TRuleSet::Bytes; }

// Digits with an optional fraction; bytes may end in K, M or G (powers of 1024).
bool parseNumber(QByteArray value, TRuleSet::Field field, double &number)
{
    double scale = 1;
    if (field == TRuleSet::Bytes && !value.isEmpty()) {
        if (value.size() > 1 && (value.back() == 'b' || value.back() == 'B'))
            value.chop(1);
        switch (value.back()) {
        case 'k': case 'K': scale = 1024.0; break;
        case 'm': case 'M': scale = 1024.0 * 1024; break;
        case 'g': case 'G': scale = 1024.0 * 1024 * 1024; break;
        default: break;
        }
        if (scale != 1)
            value.chop(1);
    }
    const qsizetype dot = value.indexOf('.');
    if (value.isEmpty() || dot == 0 || dot == value.size() - 1)
        return false;
    for (qsizetype i = 0; i < value.size(); ++i)
        if (i != dot && (value.at(i) < '0' || value.at(i) > '9'))
            return false;
    bool ok = false;
    number = value.toDouble(&ok) * scale;
    return ok;
}

// Which pairs of adjacent bytes a field holds, hashed into 4096 bits: most
// contains tests fail on a pair the field lacks without searching it.
quint16 pairHash(char a, char b) { return quint16((quint8(a) * 67u + quint8(b)) & 4095u); }
using PairSet = std::array<quint64, 64>;

// A pattern that means the same inside "(?:...)|(?:...)": no references to
// groups by number or name, no recursion, conditions, verbs, comments or
// quoting to the end.
bool combinable(const QString &p)
{
    static const QRegularExpression unsafe(QStringLiteral(R"(\[0-9gkQ]|\(\?[0-9+\-&|(PR'#]|\(\?<[A-Za-z_]|\(\*|#)"));
    return !unsafe.match(p).hasMatch();
}

// PCRE2's own limit (ten million steps) would cost an article tens of
// milliseconds per hostile pattern; a pattern may only lower it, and a
// subject never needs more than this.
const QString &matchLimit()
{
    static const QString limit = QStringLiteral("(*LIMIT_MATCH=1000000)");
    return limit;
}

// Lower case by Unicode's rules; plain ASCII, the common case, without a
// round trip through UTF-16.
QByteArray lowered(const QByteArray &utf8)
{
    QByteArray low(utf8.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (static_cast<unsigned char>(c) >= 0x80)
            return QString::fromUtf8(utf8).toLower().toUtf8();
        low[i] = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
    }
    return low;
}

QString parseCondition(const QByteArray &text, TRuleSet::Condition &c)
{
    const QByteArray trimmed = text.trimmed();
    const qsizetype s1 = trimmed.indexOf(' ');
    const QByteArray fieldWord = s1 < 0 ? trimmed : trimmed.left(s1);
    if (fieldWord.isEmpty())
        return QStringLiteral("missing condition");
    const int field = lookUp(FieldNames, fieldWord.toLower());
    if (field < 0)
        return QStringLiteral("unknown field '%1'").arg(QString::fromUtf8(fieldWord));
    c.field = TRuleSet::Field(field);
    const QByteArray rest = s1 < 0 ? QByteArray() : trimmed.mid(s1 + 1).trimmed();
    const qsizetype s2 = rest.indexOf(' ');
    const QByteArray testWord = s2 < 0 ? rest : rest.left(s2);
    if (testWord.isEmpty())
        return QStringLiteral("missing test after '%1'").arg(QString::fromUtf8(fieldWord));
    const int test = lookUp(TestNames, testWord.toLower());
    if (test < 0)
        return QStringLiteral("unknown test '%1'").arg(QString::fromUtf8(testWord));
    c.test = TRuleSet::Test(test);
    const QByteArray value = s2 < 0 ? QByteArray() : rest.mid(s2 + 1).trimmed();
    if (value.isEmpty())
        return QStringLiteral("empty value after '%1'").arg(QString::fromUtf8(testWord));
    const bool numericTest = c.test == TRuleSet::Less || c.test == TRuleSet::Greater;
    if (numericTest != isNumeric(c.field))
        return QStringLiteral("'%1' does not apply to %2").arg(QString::fromUtf8(testWord), QLatin1String(fieldName(c.field)));
    if (numericTest) {
        if (!parseNumber(value, c.field, c.number))
            return QStringLiteral("bad number '%1'").arg(QString::fromUtf8(value));
    } else if (c.test == TRuleSet::Matches) {
        c.re = QRegularExpression(matchLimit() + QString::fromUtf8(value), QRegularExpression::CaseInsensitiveOption);
        if (!c.re.isValid())
            return QStringLiteral("invalid regular expression: %1").arg(c.re.errorString());
        c.re.optimize();
    } else {
        c.text = lowered(value);
        for (qsizetype i = 0; i + 1 < c.text.size(); ++i)
            if (!c.pairs.contains(pairHash(c.text[i], c.text[i + 1])))
                c.pairs.append(pairHash(c.text[i], c.text[i + 1]));
    }
    return {};
}

// An article's fields, each worked out once and only when a rule asks.
class Seen {
public:
    Seen(const TRuleFacts &facts, qint64 nowSecs) : f_(facts), now_(nowSecs) {}

    const QString &Text(TRuleSet::Field field)
    {
        if (!(have_ & (1u << field))) {
            have_ |= 1u << field;
            text_[field] = QString::fromUtf8(Bytes(field));
        }
        return text_[field];
    }
    const QByteArray &Lower(TRuleSet::Field field)
    {
        if (!(haveLower_ & (1u << field))) {
            haveLower_ |= 1u << field;
            lower_[field] = lowered(Bytes(field));
        }
        return lower_[field];
    }
    const PairSet &Pairs(TRuleSet::Field field)
    {
        if (!(havePairs_ & (1u << field))) {
            havePairs_ |= 1u << field;
            PairSet &set = pairs_[field];
            set.fill(0);
            const QByteArray &low = Lower(field);
            for (qsizetype i = 0; i + 1 < low.size(); ++i) {
                const quint16 h = pairHash(low[i], low[i + 1]);
                set[h >> 6] |= quint64(1) << (h & 63);
            }
        }
        return pairs_[field];
    }
    // -1 not tried yet, else 0 or 1.
    int &Prefiltered(int index) { return prefiltered_[index]; }
    bool gaveUp = false; // a pattern's match was given up

    QByteArray Bytes(TRuleSet::Field field)
    {
        switch (field) {
        case TRuleSet::Subject: return f_.subject;
        case TRuleSet::From: return f_.from;
        case TRuleSet::Group: return f_.group;
        case TRuleSet::Name: return Name();
        case TRuleSet::Ext: return TRuleSet::ExtOf(Name());
        default: return {};
        }
    }
    const QByteArray &Name()
    {
        if (!haveName_) {
            haveName_ = true;
            name_ = TRuleSet::NameOf(f_.subject);
        }
        return name_;
    }
    // -1 when unknown.
    double Number(TRuleSet::Field field)
    {
        switch (field) {
        case TRuleSet::Bytes:
            if (bytes_ == -2)
                bytes_ = TRuleSet::EstimatedBytes(f_.subject, f_.bytes);
            return double(bytes_);
        case TRuleSet::Lines:
            return f_.lines > 0 ? double(f_.lines) : -1;
        case TRuleSet::Age:
            if (age_ == -2)
                age_ = TRuleSet::AgeSecs(f_.date, now_);
            return age_ < 0 ? -1 : double(age_) / SecsPerDay;
        default:
            return -1;
        }
    }

private:
    const TRuleFacts &f_;
    qint64 now_;
    unsigned have_ = 0;
    unsigned haveLower_ = 0;
    unsigned havePairs_ = 0;
    std::array<PairSet, TRuleSet::FieldCount> pairs_;
    std::array<int, 2 * TRuleSet::FieldCount> prefiltered_{-1, -1, -1, -1, -1, -1, -1, -1,
                                                           -1, -1, -1, -1, -1, -1, -1, -1};
    std::array<QString, TRuleSet::FieldCount> text_;
    std::array<QByteArray, TRuleSet::FieldCount> lower_;
    bool haveName_ = false;
    QByteArray name_;
    qint64 bytes_ = -2;
    qint64 age_ = -2;
};

bool holds(const TRuleSet::Condition &c, Seen &seen, const QList<QRegularExpression> &prefilters)
{
    switch (c.test) {
    case TRuleSet::Contains: {
        const PairSet &pairs = seen.Pairs(c.field);
        for (quint16 h : c.pairs)
            if (!(pairs[h >> 6] & (quint64(1) << (h & 63))))
                return false;
        const QByteArray &hay = seen.Lower(c.field);
        return memmem(hay.constData(), size_t(hay.size()), c.text.constData(), size_t(c.text.size())) != nullptr;
    }
    case TRuleSet::Is:
        return seen.Lower(c.field) == c.text;
    case TRuleSet::Matches:
        if (c.prefilter >= 0) {
            int &any = seen.Prefiltered(c.prefilter);
            if (any < 0) {
                const QRegularExpressionMatch m = prefilters[c.prefilter].match(seen.Text(c.field));
                any = m.isValid() ? m.hasMatch() : 1; // given up: each pattern decides on its own
            }
            if (!any)
                return false;
        }
        {
            // PCRE2 gives up past its match limit (backtracking without end
            // on a hostile pattern): no match, and the caller hears of it.
            const QRegularExpressionMatch m = c.re.match(seen.Text(c.field));
            if (!m.isValid())
                seen.gaveUp = true;
            return m.hasMatch();
        }
    case TRuleSet::Less:
    case TRuleSet::Greater: {
        const double n = seen.Number(c.field);
        if (n < 0)
            return false; // an unknown size or date decides nothing
        return c.test == TRuleSet::Less ? n < c.number : n > c.number;
    }
    }
    return false;
}

bool holds(const TRuleSet::Rule &r, Seen &seen, const QList<QRegularExpression> &prefilters)
{
    for (const TRuleSet::Condition &c : r.conditions)
        if (!holds(c, seen, prefilters))
            return false;
    return true;
}

} // namespace

namespace {

// A control byte in a rule would be matched as written, and never is: a
// NUL in "only ext is j\0pg" would skip every article. A tab is a blank.
int controlByte(const QByteArray &line)
{
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return u;
    }
    return -1;
}

} // namespace

TRuleSet TRuleSet::Parse(const QByteArray &whole)
{
    TRuleSet set;
    // Past the cap the rest is not read, so a runaway file cannot take
    // the memory of hundreds of megabytes its rules would need.
    QByteArrayView text(whole);
    const bool cut = text.size() > MaxBytes;
    if (cut)
        text = text.first(qMax<qsizetype>(0, QByteArrayView(whole).first(MaxBytes).lastIndexOf('\n')));
    const QList<QByteArray> lines = (cut ? text.toByteArray() : whole).split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        Rule rule;
        rule.line = i + 1;
        rule.text = line;
        const qsizetype space = line.indexOf(' ');
        const QByteArray action = (space < 0 ? line : line.left(space)).toLower();
        QString error;
        if (const int control = controlByte(line); control >= 0) {
            error = QStringLiteral("holds a control character (byte 0x%1)").arg(control, 2, 16, QLatin1Char('0'));
        } else if (action == "skip" || action == "only") {
            rule.action = action == "skip" ? Skip : Only;
            const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1);
            qsizetype from = 0;
            while (error.isEmpty()) {
                const qsizetype andAt = rest.indexOf(" and ", from);
                Condition c;
                error = parseCondition(rest.mid(from, andAt < 0 ? -1 : andAt - from), c);
                rule.conditions.append(c);
                if (andAt < 0)
                    break;
                from = andAt + 5;
            }
        } else {
            error = QStringLiteral("unknown action '%1'").arg(QString::fromUtf8(space < 0 ? line : line.left(space)));
        }
        if (!error.isEmpty()) {
            set.errors_.append({rule.line, error});
            continue;
        }
        set.anyOnly_ = set.anyOnly_ || rule.action == Only;
        set.rules_.append(std::move(rule));
    }
    // Every article is judged by every rule: a very long file costs memory
    // and time on each one, which the user should hear of.
    if (cut)
        set.warning_ = QStringLiteral("over %1 MB of rules: only the first %1 MB are read").arg(MaxBytes >> 20);
    else if (whole.size() > WarnBytes || set.rules_.size() > WarnRules)
        set.warning_ = QStringLiteral("%1 rules in %2 KB: every article is judged by all of them, which makes a "
                                      "search slow and takes much memory")
                           .arg(set.rules_.size())
                           .arg((whole.size() + 1023) / 1024);
    set.combinePatterns();
    return set;
}

void TRuleSet::combinePatterns()
{
    for (int action = Skip; action <= Only; ++action) {
        for (int field = 0; field < FieldCount; ++field) {
            QList<Condition *> members;
            QStringList parts;
            for (Rule &r : rules_)
                for (Condition &c : r.conditions)
                    if (r.action == action && c.field == field && c.test == Matches) {
                        const QString written = c.re.pattern().mid(matchLimit().size());
                        if (!combinable(written))
                            continue;
                        members << &c;
                        parts << QStringLiteral("(?:") + written + ')';
                    }
            if (members.size() < 2)
                continue;
            QRegularExpression all(matchLimit() + parts.join('|'), QRegularExpression::CaseInsensitiveOption);
            if (!all.isValid())
                continue;
            all.optimize();
            for (Condition *c : members)
                c->prefilter = int(prefilters_.size());
            prefilters_ << all;
        }
    }
}

TRuleSet::Verdict TRuleSet::Decide(const TRuleFacts &facts, qint64 nowSecs) const
{
    if (rules_.isEmpty())
        return {};
    Seen seen(facts, nowSecs);
    int gaveUp = 0;
    auto test = [&](const Rule &r) {
        const bool held = holds(r, seen, prefilters_);
        if (std::exchange(seen.gaveUp, false) && gaveUp == 0)
            gaveUp = r.line;
        return held;
    };
    for (const Rule &r : rules_)
        if (r.action == Skip && test(r))
            return {true, &r, gaveUp};
    if (!anyOnly_)
        return {false, nullptr, gaveUp};
    for (const Rule &r : rules_)
        if (r.action == Only && test(r))
            return {false, &r, gaveUp};
    return {true, nullptr, gaveUp};
}

QByteArray TRuleSet::GaveUpLine(const Verdict &verdict)
{
    if (verdict.gaveUp == 0)
        return {};
    return "Rule " + QByteArray::number(verdict.gaveUp)
        + ": its pattern was given up on this article (too much backtracking) and counted as not matching";
}

QByteArray TRuleSet::LogLine(const Verdict &verdict)
{
    if (!verdict.rule)
        return verdict.skip ? QByteArray("Skipped: no only rule matched") : QByteArray();
    return (verdict.skip ? "Skipped by rule " : "Taken by rule ") + QByteArray::number(verdict.rule->line) + ": "
        + verdict.rule->text;
}

QString TRuleSet::Explain(const TRuleFacts &facts, const Verdict &verdict, qint64 nowSecs) const
{
    QString head = QString::fromUtf8(LogLine(verdict));
    if (head.isEmpty())
        head = rules_.isEmpty() ? QStringLiteral("Taken: there are no rules") : QStringLiteral("Taken: no rule applies");
    Seen seen(facts, nowSecs);
    QStringList parts;
    for (Field f : {Name, Ext})
        parts << QStringLiteral("%1 '%2'").arg(QLatin1String(fieldName(f)), seen.Text(f));
    for (Field f : {Bytes, Lines, Age}) {
        const double n = seen.Number(f);
        parts << QStringLiteral("%1 %2").arg(QLatin1String(fieldName(f)),
                                             n < 0 ? QStringLiteral("unknown") : QString::number(qint64(n)));
    }
    if (!facts.from.isEmpty())
        parts << QStringLiteral("from '%1'").arg(seen.Text(From));
    const QByteArray gaveUp = GaveUpLine(verdict);
    return head + '\n' + parts.join(QStringLiteral(", ")) + (gaveUp.isEmpty() ? QString() : '\n' + QString::fromUtf8(gaveUp));
}

QByteArray TRuleSet::NameOf(const QByteArray &subject)
{
    const QByteArray name = AnnouncedName(subject);
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 && dot < name.size() - 1 ? name : QByteArray();
}

QByteArray TRuleSet::ExtOf(const QByteArray &name)
{
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? QByteArray() : name.mid(dot + 1).toLower();
}

qint64 TRuleSet::EstimatedBytes(const QByteArray &subject, qint64 bytes)
{
    if (bytes < 0)
        return -1;
    const PartMarker m = ParsePartMarker(subject);
    return m.Total > 1 ? bytes * m.Total : bytes;
}

bool TRuleSet::ParseSize(const QByteArray &text, qint64 &bytes)
{
    double n = 0;
    if (!parseNumber(text.trimmed(), Bytes, n))
        return false;
    bytes = qint64(n);
    return true;
}

namespace {

// "[Www, ]D Mon YYYY HH:MM:SS +ZZZZ", as nearly every poster writes it, in
// seconds since the epoch; false for anything else, which QDateTime reads.
bool quickDate(const QByteArray &date, qint64 &secs)
{
    const char *p = date.constData();
    const char *end = p + date.size();
    auto number = [&](int digits, int &out) {
        out = 0;
        for (int i = 0; i < digits; ++i, ++p) {
            if (p >= end || *p < '0' || *p > '9')
                return false;
            out = out * 10 + (*p - '0');
        }
        return true;
    };
    auto skip = [&](char c) { return p < end && *p++ == c; };
    if (date.size() > 5 && date[3] == ',')
        p += 5;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, zone = 0;
    if (!number(p + 1 < end && p[1] == ' ' ? 1 : 2, day) || !skip(' ') || end - p < 4)
        return false;
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const int month = int(std::string_view(months).find(std::string_view(p, 3)));
    if (month < 0 || month % 3 != 0)
        return false;
    p += 3;
    if (!skip(' ') || !number(4, year) || !skip(' ') || !number(2, hour) || !skip(':') || !number(2, minute)
        || !skip(':') || !number(2, second) || !skip(' ') || p >= end || (*p != '+' && *p != '-'))
        return false;
    const int sign = *p++ == '-' ? -1 : 1;
    if (!number(4, zone) || p != end)
        return false;
    const QDate d(year, month / 3 + 1, day);
    if (!d.isValid() || hour > 23 || minute > 59 || second > 60)
        return false;
    secs = (d.toJulianDay() - 2440588) * SecsPerDay + hour * 3600 + minute * 60 + second
        - sign * ((zone / 100) * 3600 + (zone % 100) * 60);
    return true;
}

} // namespace

qint64 TRuleSet::AgeSecs(const QByteArray &date, qint64 nowSecs)
{
    if (date.isEmpty())
        return -1;
    qint64 secs = 0;
    if (quickDate(date, secs))
        return qMax<qint64>(0, nowSecs - secs);
    // A trailing comment, blanks doubled and zone names that posters use
    // but the reader below does not take.
    QByteArray text = date.simplified();
    if (text.endsWith(')') && text.lastIndexOf(" (") > 0)
        text.truncate(text.lastIndexOf(" ("));
    for (const char *zone : {" GMT", " UTC", " UT", " Z"})
        if (text.endsWith(zone))
            text = text.chopped(qstrlen(zone)) + " +0000";
    if (quickDate(text, secs))
        return qMax<qint64>(0, nowSecs - secs);
    const QDateTime posted = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    if (!posted.isValid())
        return -1;
    return qMax<qint64>(0, nowSecs - posted.toSecsSinceEpoch());
}
