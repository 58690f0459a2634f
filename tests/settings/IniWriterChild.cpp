// Writes settings values in a tight loop until killed; the test kills it at a
// random moment and checks the file it leaves behind. With "once KEY VALUE"
// it writes one value and exits 0 when the write succeeded (run as another
// user to test folder permissions).
#include "ZqIniFile.h"

#include <QByteArray>
#include <QString>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    SetProgramFilePathOverride(QString::fromLocal8Bit(argv[1]));
    if (argc == 5 && QByteArray(argv[2]) == "once")
        return IniWriteString("C", argv[3], argv[4]) ? 0 : 1;
    const QByteArray filler(2000, 'x');
    for (qint64 i = 0;; ++i) {
        IniWriteString("STATISTICS", "SAVED_COUNT", QByteArray::number(i));
        IniWriteString("GROUPS", "alt.binaries.test" + QByteArray::number(i % 50), filler);
    }
}
