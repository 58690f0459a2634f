#include "InnServer.h"

#include <QDateTime>
#include <QFile>
#include "SpawnTool.h"
#include <QTcpSocket>

#include <unistd.h>

namespace InnServer {

namespace {

constexpr int kTimeoutMs = 20000;

bool Fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool ReadLine(QTcpSocket &s, QByteArray &line)
{
    while (!s.canReadLine()) {
        if (!s.waitForReadyRead(kTimeoutMs))
            return false;
    }
    line = s.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return true;
}

bool WriteAll(QTcpSocket &s, const QByteArray &data)
{
    s.write(data);
    while (s.bytesToWrite() > 0) {
        if (!s.waitForBytesWritten(kTimeoutMs))
            return false;
    }
    return true;
}

} // namespace

QByteArray Setting(const char *name)
{
    QByteArray text = qgetenv(name);
    if (text.isEmpty()) {
        QFile env("/tmp/pixtrawl-inn.env");
        const QByteArray prefix = QByteArray(name) + '=';
        if (env.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : env.readAll().split('\n'))
                if (line.startsWith(prefix))
                    text = line.mid(prefix.size()).trimmed();
        }
    }
    return text;
}

namespace {
quint16 PortSetting(const char *name)
{
    bool ok = false;
    const uint port = Setting(name).toUInt(&ok);
    return ok && port > 0 && port < 65536 ? quint16(port) : 0;
}
} // namespace

quint16 Port()
{
    return PortSetting("PIXTRAWL_INN_PORT");
}

quint16 TlsPort()
{
    return Port() ? PortSetting("PIXTRAWL_INN_TLS_PORT") : 0;
}

QString SkipReason()
{
    if (Port() != 0)
        return {};
    return QStringLiteral("no INN server: PIXTRAWL_INN_PORT is not set; run tests/inn/start_inn.sh as root "
                          "(it prints the port) and export PIXTRAWL_INN_PORT");
}

QByteArray UniqueGroupName(const QByteArray &prefix)
{
    return prefix + '.' + QByteArray::number(getpid()) + 'x' +
           QByteArray::number(QDateTime::currentMSecsSinceEpoch());
}

bool CreateGroup(const QByteArray &name, QString *error)
{
    const QString ctlinnd = QStringLiteral("/usr/lib/news/bin/ctlinnd");
    const QStringList args{QStringLiteral("newgroup"), QString::fromLatin1(name), QStringLiteral("y")};
    const ToolResult run =
        geteuid() == 0 ? SpawnTool(QStringLiteral("su"),
                                   {QStringLiteral("news"), QStringLiteral("-s"), QStringLiteral("/bin/sh"),
                                    QStringLiteral("-c"), ctlinnd + ' ' + args.join(' ')},
                                   {}, kTimeoutMs)
                       : SpawnTool(ctlinnd, args, {}, kTimeoutMs);
    if (!run.Ok())
        return Fail(error, "ctlinnd newgroup " + QString::fromLatin1(name) + " failed: " +
                               QString::fromLocal8Bit(run.err + run.out));
    return true;
}

bool PostArticle(Article &article, QString *error)
{
    static int serial = 0;
    if (article.messageId.isEmpty())
        article.messageId = "<pixtrawl." + QByteArray::number(getpid()) + '.' +
                            QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '.' +
                            QByteArray::number(++serial) + "@pixtrawl.example.org>";

    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), Port());
    if (!s.waitForConnected(kTimeoutMs))
        return Fail(error, "cannot connect to INN: " + s.errorString());
    QByteArray line;
    if (!ReadLine(s, line) || !line.startsWith("200"))
        return Fail(error, "INN greeting: " + QString::fromLatin1(line));
    if (!WriteAll(s, "POST\r\n") || !ReadLine(s, line) || !line.startsWith("340"))
        return Fail(error, "POST refused: " + QString::fromLatin1(line));

    const QByteArray from = article.from.isEmpty() ? "Pixtrawl Tests <tests@pixtrawl.example.org>" : article.from;
    QByteArray text = "From: " + from + "\r\n"
                      "Newsgroups: " + article.group + "\r\n"
                      "Subject: " + article.subject + "\r\n"
                      "Message-ID: " + article.messageId + "\r\n";
    for (const QByteArray &h : std::as_const(article.extraHeaders))
        text += h + "\r\n";
    text += "\r\n";
    for (const QByteArray &l : std::as_const(article.body)) {
        if (l.startsWith('.'))
            text += '.';
        text += l + "\r\n";
    }
    text += ".\r\n";
    if (!WriteAll(s, text) || !ReadLine(s, line) || !line.startsWith("240"))
        return Fail(error, "posting failed: " + QString::fromLatin1(line));
    WriteAll(s, "QUIT\r\n");
    return true;
}

bool CreateGroupWithArticles(const QByteArray &group, QList<Article> &articles, QString *error)
{
    if (!CreateGroup(group, error))
        return false;
    for (Article &a : articles) {
        a.group = group;
        if (!PostArticle(a, error))
            return false;
    }
    return true;
}

} // namespace InnServer
