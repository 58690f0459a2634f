#pragma once
#include "FakeNntpServer.h"

#include <QString>

// Reads a spool folder as written by scripts/make-sample-articles: one folder
// per group, one file per article named by its number, holding header lines,
// a blank line and the body. The header is served as it stands.
QList<FakeNntpServer::Group> LoadSampleSpool(const QString &spoolDir);
