#include "THelpFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString THelpFile::Path()
{
    const QString name = QLatin1String(FileName);
    const QStringList places{
        QCoreApplication::applicationDirPath() + QStringLiteral("/../" PIXTRAWL_DOC_DIR "/"),
        QStringLiteral(PIXTRAWL_SOURCE_DATA "/"),
    };
    for (const QString &place : places) {
        const QFileInfo file(place + name);
        if (file.isFile())
            return QDir::cleanPath(file.absoluteFilePath());
    }
    return QString();
}
