#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the program file (and so the settings file and the list files) into a
// fresh temporary folder for the lifetime of the object.
class TempProgramDir {
public:
    TempProgramDir();
    ~TempProgramDir();
    QString dir() const;                       // ends in "/"
    QString iniPath() const;                   // the settings file
    QString path(const QString &name) const;   // a file in the folder
    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &data) const;

private:
    QTemporaryDir tmp_;
};
