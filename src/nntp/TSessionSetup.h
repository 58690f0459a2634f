#pragma once
#include <QByteArray>
#include <QList>

// The dialogue that opens a session: the greeting, MODE READER, a login
// where a user name is given or the server asks for one, and then, when
// wanted and offered, COMPRESS DEFLATE (after the login, as RFC 8054 asks).
// Fed the reply lines in hand, it says what to send next or how the set-up
// ended; it holds no socket, so a table of replies can drive it.
class TSessionSetup {
public:
    enum class Stage { Off, Greeting, ModeReader, AuthUser, AuthPass, Capabilities, Compress };
    enum class Next { Send, Wait, Done, ServerRefused, LoginRefused, LoginRequired };
    struct Step {
        Next next = Next::Send;
        QByteArray command; // what to send, for Next::Send
        // Done: the server said 206, and both directions are deflated from
        // the byte after its status line on.
        bool compressed = false;
    };

    void Start(const QByteArray &userName, const QByteArray &password, bool compress = false);
    void Stop() { stage_ = Stage::Off; }
    // reply: the lines received since the last command, status line first
    // (without CR LF, the closing "." as it came); Wait while a multi-line
    // reply the set-up needs has not ended.
    Step Reply(const QList<QByteArray> &reply);
    Step Reply(const QByteArray &status) { return Reply(QList<QByteArray>{status}); }

    Stage CurrentStage() const { return stage_; }
    bool Active() const { return stage_ != Stage::Off; }
    // The greeting's status line, kept as the reply a finished set-up leaves.
    const QByteArray &Greeting() const { return greeting_; }

private:
    Step End(Next how, bool compressed = false);
    // Logged in, or no login needed: compression next, if wanted.
    Step Ready();

    Stage stage_ = Stage::Off;
    bool compress_ = false;
    QByteArray user_, password_, greeting_;
};
