#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixtrawl"));
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("Pixtrawl"));
    w.show();
    return app.exec();
}
