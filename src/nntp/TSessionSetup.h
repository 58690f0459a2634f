#pragma once
#include <QByteArray>

// The dialogue that opens a session: the greeting, MODE READER, and a login
// where a user name is given or the server asks for one. Fed each status
// line, it says what to send next or how the set-up ended; it holds no
// socket, so a table of replies can drive it.
class TSessionSetup {
public:
    enum class Stage { Off, Greeting, ModeReader, AuthUser, AuthPass };
    enum class Next { Send, Done, ServerRefused, LoginRefused, LoginRequired };
    struct Step {
        Next next = Next::Send;
        QByteArray command; // what to send, for Next::Send
    };

    void Start(const QByteArray &userName, const QByteArray &password);
    void Stop() { stage_ = Stage::Off; }
    Step Reply(const QByteArray &status);

    Stage CurrentStage() const { return stage_; }
    bool Active() const { return stage_ != Stage::Off; }
    // The greeting's status line, kept as the reply a finished set-up leaves.
    const QByteArray &Greeting() const { return greeting_; }

private:
    Step End(Next how);

    Stage stage_ = Stage::Off;
    QByteArray user_, password_, greeting_;
};
