#include "TSessionSetup.h"

#include "NntpParse.h"

void TSessionSetup::Start(const QByteArray &userName, const QByteArray &password)
{
    stage_ = Stage::Greeting;
    user_ = userName;
    password_ = password;
    greeting_.clear();
}

TSessionSetup::Step TSessionSetup::End(Next how)
{
    stage_ = Stage::Off;
    return Step{how, {}};
}

TSessionSetup::Step TSessionSetup::Reply(const QByteArray &status)
{
    const int code = Nntp::StatusCode(status);
    switch (stage_) {
    case Stage::Off:
        return End(Next::ServerRefused);
    case Stage::Greeting:
        if (code != 200 && code != 201)
            return End(Next::ServerRefused);
        greeting_ = status;
        stage_ = Stage::ModeReader;
        return Step{Next::Send, Nntp::ModeReaderCommand()};
    case Stage::ModeReader:
        // 500/501: a server that is a reader anyway; 502: no reading here.
        if (code == 502)
            return End(Next::ServerRefused);
        if (code == 480 && user_.isEmpty())
            return End(Next::LoginRequired);
        if (user_.isEmpty())
            return End(Next::Done);
        stage_ = Stage::AuthUser;
        return Step{Next::Send, Nntp::AuthUserCommand(user_)};
    case Stage::AuthUser:
        if (code == 281)
            return End(Next::Done);
        if (code != 381)
            return End(Next::LoginRefused);
        stage_ = Stage::AuthPass;
        return Step{Next::Send, Nntp::AuthPassCommand(password_)};
    case Stage::AuthPass:
        return End(code == 281 ? Next::Done : Next::LoginRefused);
    }
    return End(Next::ServerRefused);
}
