#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// Test access to the local INN2 server that tests/inn/start_inn.sh starts.
namespace InnServer {

// The reader port: PIXTRAWL_INN_PORT, else the line start_inn.sh left in
// /tmp/pixtrawl-inn.env; 0 when there is no server.
quint16 Port();

// The reader that speaks TLS from the first byte and wants a login; 0 when
// there is none. Its user, password and certificate fingerprint (SHA-256 in
// hex) come from Setting("PIXTRAWL_INN_USER"), ..._PASSWORD, ..._TLS_SHA256.
quint16 TlsPort();
// A value start_inn.sh left: the environment first, then /tmp/pixtrawl-inn.env.
QByteArray Setting(const char *name);

// Why INN tests cannot run (empty when Port() is set), for GTEST_SKIP.
QString SkipReason();

// A group name no earlier run used: prefix + ".<pid>x<time>".
QByteArray UniqueGroupName(const QByteArray &prefix);

// ctlinnd newgroup NAME y, as the news user when running as root.
bool CreateGroup(const QByteArray &name, QString *error = nullptr);

struct Article {
    QByteArray group;
    QByteArray subject;
    QList<QByteArray> body;         // lines as meant; dot-stuffed when posted
    QList<QByteArray> extraHeaders; // e.g. "Lines: 3"
    QByteArray messageId;           // set by PostArticle when left empty
    QByteArray from;                // empty: the tests' own poster
};

// Posts through the reader port with POST; waits for the 240 answer.
bool PostArticle(Article &article, QString *error = nullptr);

// CreateGroup, then every article posted to it (group fields are filled in).
bool CreateGroupWithArticles(const QByteArray &group, QList<Article> &articles, QString *error = nullptr);

} // namespace InnServer
