// The news client against INN2's reader that speaks TLS from the first byte
// and wants a login (tests/inn/start_inn.sh): what the user is told when the
// certificate does not verify, a wrong password, and a server asking for a
// login that was not given.
#include "InnServer.h"
#include "TZqNNTP.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <gtest/gtest.h>

namespace {

class InnTlsLogin : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (InnServer::Port() == 0)
            GTEST_SKIP() << InnServer::SkipReason().toStdString();
        ASSERT_NE(InnServer::TlsPort(), 0) << "start_inn.sh started no TLS reader";
        client.OnStateChange = [this](TZqNNTP *, qint32 s) { states << s; };
        client.OnConnectionLost = [this](TZqNNTP *) { ++losses; };
        client.UseTls = true;
    }

    // Connects and waits for the verdict; the client's own guard bounds it.
    qint32 Attempt()
    {
        states.clear();
        if (!client.Connect("127.0.0.1", InnServer::TlsPort()))
            return 0;
        QElapsedTimer t;
        t.start();
        while (states.isEmpty() && t.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        return states.value(0);
    }

    QByteArray fingerprint() const { return InnServer::Setting("PIXTRAWL_INN_TLS_SHA256"); }
    QByteArray user() const { return InnServer::Setting("PIXTRAWL_INN_USER"); }
    QByteArray password() const { return InnServer::Setting("PIXTRAWL_INN_PASSWORD"); }

    TZqNNTP client;
    QList<qint32> states;
    int losses = 0;
};

TEST_F(InnTlsLogin, UntrustedCertificateIsRefusedAndTrustingItsFingerprintLetsIn)
{
    client.UserName = user();
    client.Password = password();
    ASSERT_EQ(Attempt(), 4);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailCertificate);
    EXPECT_TRUE(client.CertificateErrors.contains("self-signed")) << client.CertificateErrors.toStdString();
    EXPECT_EQ(client.PeerSha256, fingerprint());

    // Another certificate's fingerprint does not open the door.
    client.TrustedSha256 = QByteArray(64, 'A');
    ASSERT_EQ(Attempt(), 4);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailCertificate);

    client.TrustedSha256 = fingerprint();
    ASSERT_EQ(Attempt(), 2);
    // Compressed inside TLS, after the login.
    EXPECT_TRUE(client.Compressing());
    EXPECT_TRUE(client.SelectGroup("junk"));
}

TEST_F(InnTlsLogin, WrongPasswordFailsWithTheServersWords)
{
    client.TrustedSha256 = fingerprint();
    client.UserName = user();
    client.Password = "not-" + password();
    ASSERT_EQ(Attempt(), 4);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailLogin);
    EXPECT_TRUE(client.FailureText.contains(": 481 ")) << client.FailureText.toStdString();
}

TEST_F(InnTlsLogin, ALoginAskedForAndNotGivenEndsTheConnection)
{
    client.TrustedSha256 = fingerprint();
    ASSERT_EQ(Attempt(), 2);
    EXPECT_FALSE(client.SelectGroup("junk"));
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(losses, 1);
    EXPECT_EQ(client.LastFailure, TZqNNTP::FailLoginRequired);
    EXPECT_TRUE(client.FailureText.contains(": 480 ")) << client.FailureText.toStdString();
}

} // namespace
