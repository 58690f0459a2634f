#include "TSessionSetup.h"

#include "NntpParse.h"

void TSessionSetup::Start(const QByteArray &userName, const QByteArray &password, bool compress)
{
    stage_ = Stage::Greeting;
    user_ = userName;
    password_ = password;
    compress_ = compress;
    greeting_.clear();
}

TSessionSetup::Step TSessionSetup::End(Next how, bool compressed)
{
    stage_ = Stage::Off;
    return Step{how, {}, compressed};
}

TSessionSetup::Step TSessionSetup::Ready()
{
    if (!compress_)
        return End(Next::Done);
    // What a server offers may change with reader mode and login: asked now.
    stage_ = Stage::Capabilities;
    return Step{Next::Send, Nntp::CapabilitiesCommand()};
}

TSessionSetup::Step TSessionSetup::Reply(const QList<QByteArray> &reply)
{
    if (reply.isEmpty())
        return Step{Next::Wait, {}};
    const QByteArray &status = reply.first();
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
            return Ready();
        stage_ = Stage::AuthUser;
        return Step{Next::Send, Nntp::AuthUserCommand(user_)};
    case Stage::AuthUser:
        if (code == 281)
            return Ready();
        if (code != 381)
            return End(Next::LoginRefused);
        stage_ = Stage::AuthPass;
        return Step{Next::Send, Nntp::AuthPassCommand(password_)};
    case Stage::AuthPass:
        if (code == 281)
            return Ready();
        return End(Next::LoginRefused);
    case Stage::Capabilities:
        // Anything but the list (an old server's 500, say): no compression.
        if (code != 101)
            return End(Next::Done);
        if (reply.size() < 2 || reply.last() != ".")
            return Step{Next::Wait, {}};
        if (!Nntp::OffersDeflate(reply.mid(1, reply.size() - 2)))
            return End(Next::Done);
        stage_ = Stage::Compress;
        return Step{Next::Send, Nntp::CompressDeflateCommand()};
    case Stage::Compress:
        // A refusal (403, or 502 from a server that compresses already)
        // leaves the session as it was.
        return End(Next::Done, code == 206);
    }
    return End(Next::ServerRefused);
}
