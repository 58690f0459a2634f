#include "TempProgramDir.h"

#include "ZqIniFile.h"

#include <QFile>

TempProgramDir::TempProgramDir()
{
    SetProgramFilePathOverride(tmp_.path() + QStringLiteral("/pixtrawl"));
}

TempProgramDir::~TempProgramDir() { SetProgramFilePathOverride(QString()); }

QString TempProgramDir::dir() const { return tmp_.path() + QLatin1Char('/'); }

QString TempProgramDir::iniPath() const { return SettingsFilePath(); }

QString TempProgramDir::path(const QString &name) const { return dir() + name; }

QByteArray TempProgramDir::read(const QString &name) const
{
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void TempProgramDir::write(const QString &name, const QByteArray &data) const
{
    QFile f(path(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}
