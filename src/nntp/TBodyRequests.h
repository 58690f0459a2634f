#pragma once
#include <QByteArray>
#include <QList>

class TZqNNTP;

// One body to ask for: by number in the selected group, or by id where the
// client asks by id.
struct TBodyWant {
    qint64 number = 0;
    QByteArray id;
};

// The news client's body path: BODY requests sent ahead in one write, and
// each reply taken in the order asked and checked against its request. Works
// on its client's socket, lines and requests in flight, as the receive path
// does.
class TBodyRequests {
public:
    explicit TBodyRequests(TZqNNTP &client) : client_(client) {}

    // number's body into the client's BodyLines, asking ahead as TZqNNTP::GetBody says.
    bool FetchOnce(qint64 number, const QList<qint64> &ahead, const QByteArray &expectedId);
    // Requests for wants not in flight yet, while fewer than most are
    // wanted (the first always), in one write; how many went out.
    int Send(const QList<TBodyWant> &wants, int most);

private:
    TZqNNTP &client_;
};
