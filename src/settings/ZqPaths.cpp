#include "ZqPaths.h"

#include "ZqIniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <optional>

#include <stdlib.h>
#include <unistd.h>

namespace {

std::optional<ZqPaths::Layout> &layoutSlot()
{
    static std::optional<ZqPaths::Layout> s;
    return s;
}

QString withSlash(QString dir)
{
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString xdgFolder(QStandardPaths::StandardLocation location)
{
    return withSlash(QStandardPaths::writableLocation(location)) + QStringLiteral("pixtrawl/");
}

bool mayWrite(const QString &path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; }

QString reasonText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Makes the folder and its parents; the errno of the failure, 0 when it exists.
int makeFolder(const QString &dir)
{
    if (QFileInfo(dir).isDir())
        return 0;
    if (QDir().mkpath(dir))
        return 0;
    // QDir hides errno: find the part that stands in the way.
    QString part = QDir::cleanPath(dir);
    while (!part.isEmpty() && !QFileInfo::exists(part))
        part = QFileInfo(part).path();
    if (!QFileInfo(part).isDir())
        return ENOTDIR;
    return mayWrite(part) ? EIO : EACCES;
}

} // namespace

ZqPaths::Layout ZqPaths::LayoutFor(const QString &programFile)
{
    const QFileInfo exe(programFile);
    const QString ini = exe.absolutePath() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".ini");
    const QFileInfo info(ini);
    if (info.isFile() && mayWrite(ini) && mayWrite(exe.absolutePath()))
        return Portable;
    return Xdg;
}

ZqPaths::Layout ZqPaths::CurrentLayout()
{
    if (!layoutSlot())
        layoutSlot() = LayoutFor(ProgramFilePath());
    return *layoutSlot();
}

void ZqPaths::SetLayout(Layout layout) { layoutSlot() = layout; }
void ZqPaths::ResetLayout() { layoutSlot().reset(); }

QString ZqPaths::SettingsFile()
{
    if (CurrentLayout() == Portable)
        return ProgramSettingsFilePath();
    return xdgFolder(QStandardPaths::GenericConfigLocation) + QStringLiteral("pixtrawl.ini");
}

QString ZqPaths::DataDir()
{
    return CurrentLayout() == Portable ? ProgramDirectory() : xdgFolder(QStandardPaths::GenericDataLocation);
}

QString ZqPaths::CacheDir()
{
    return CurrentLayout() == Portable ? ProgramDirectory() : xdgFolder(QStandardPaths::GenericCacheLocation);
}

QString ZqPaths::StateDir()
{
    // Qt 6.4 knows no state location: XDG_STATE_HOME when absolute, else ~/.local/state.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return withSlash(base) + QStringLiteral("pixtrawl/");
}

QString ZqPaths::LogFile()
{
    return CurrentLayout() == Portable ? QStringLiteral("pixtrawl.log") : StateDir() + QStringLiteral("pixtrawl.log");
}

QString ZqPaths::DefaultOutputDir()
{
    if (CurrentLayout() == Portable)
        return QStringLiteral("/");
    return withSlash(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)) + QStringLiteral("Pixtrawl/");
}

QString ZqPaths::SettingsWriteProblem()
{
    const QString file = SettingsFile();
    const QString dir = QFileInfo(file).absolutePath();
    int err = makeFolder(dir);
    if (!err && QFileInfo(file).isDir())
        err = EISDIR;
    if (!err) {
        // The writer replaces the file by a new one in the same folder.
        QByteArray probe = QFile::encodeName(dir) + "/.pixtrawl-probe.XXXXXX";
        const int fd = ::mkstemp(probe.data());
        if (fd < 0) {
            err = errno;
        } else {
            ::close(fd);
            ::unlink(probe.constData());
        }
    }
    if (!err)
        return QString();
    return QStringLiteral("Pixtrawl cannot save its settings in %1: %2. Changes made now are lost when it ends.")
        .arg(dir, reasonText(err));
}

QString ZqPaths::Prepare()
{
    if (CurrentLayout() == Xdg) {
        for (const QString &dir : {DataDir(), CacheDir(), StateDir()})
            makeFolder(dir);
        const QString file = SettingsFile();
        if (!QFileInfo::exists(file) && makeFolder(QFileInfo(file).absolutePath()) == 0) {
            QFile seed(ProgramSettingsFilePath());
            if (seed.open(QIODevice::ReadOnly)) {
                QSaveFile copy(file);
                if (copy.open(QIODevice::WriteOnly)) {
                    copy.write(seed.readAll());
                    copy.commit();
                }
            }
            IniGatherWrites();
            if (IniReadString("CONFIG", "OUTPUT_DIR", QByteArray()).isEmpty()) {
                const QString pictures = DefaultOutputDir();
                if (makeFolder(pictures) == 0)
                    IniWriteString("CONFIG", "OUTPUT_DIR", QFile::encodeName(pictures));
            }
            // A new user starts safe: no picture saved twice, none replaced
            // by another of its name. An administrator's choice stays; files
            // made before this default keep theirs (a missing key reads no).
            for (const char *key : {"FILE_SCREENING", "RENAME_DUPLICATES"}) {
                if (IniReadBool("CONFIG", key, false) != IniReadBool("CONFIG", key, true))
                    IniWriteBool("CONFIG", key, true);
            }
            IniFlushWrites();
        }
    }
    IniRemoveStaleTemps();
    return SettingsWriteProblem();
}
