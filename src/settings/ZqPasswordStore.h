#pragma once
#include <QByteArray>

// The news server password lives in the desktop's keyring when a secret
// service answers, else in the settings file, which is then kept at mode 0600.
// A PASSWORD typed into the settings file by hand is used as it stands.

QByteArray LoadPassword(const QByteArray &user, const QByteArray &host);

// True when the password went to the keyring, false when to the file. An
// empty password is removed from both.
bool StorePassword(const QByteArray &user, const QByteArray &host, const QByteArray &password);

// Keyring waits end after this long; a keyring that hangs counts as absent.
inline constexpr int KeyringTimeoutMs = 5000;
