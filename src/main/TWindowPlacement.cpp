#include "TWindowPlacement.h"

#include "ZqIniFile.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QRect TWindowPlacement::Restore(QWidget &window)
{
    if (IniReadInteger("WINDOW", "LEFT", -1) == -1) {
        const QScreen *s = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
        const QRect sg = s ? s->geometry() : QRect(0, 0, window.width(), window.height());
        window.move((sg.width() - window.width()) / 2, (sg.height() - window.height()) / 2);
        return QRect();
    }
    const int left = IniReadInteger("WINDOW", "LEFT", 10);
    const int top = IniReadInteger("WINDOW", "TOP", 10);
    window.move(left, top);
    const int w = IniReadInteger("WINDOW", "WIDTH", window.width());
    const int h = IniReadInteger("WINDOW", "HEIGHT", window.height());
    window.resize(w, h);
    const QRect normal(left, top, window.width(), window.height());
    switch (IniReadInteger("WINDOW", "STATE", 0)) {
    case 1:
        window.setWindowState(Qt::WindowMinimized);
        break;
    case 2:
        window.setWindowState(Qt::WindowMaximized);
        break;
    default:
        break;
    }
    return normal;
}

void TWindowPlacement::Save(const QWidget &window, const QRect &normalBounds)
{
    IniWriteInteger("WINDOW", "LEFT", normalBounds.x());
    IniWriteInteger("WINDOW", "TOP", normalBounds.y());
    IniWriteInteger("WINDOW", "WIDTH", normalBounds.width());
    IniWriteInteger("WINDOW", "HEIGHT", normalBounds.height());
    const Qt::WindowStates ws = window.windowState();
    IniWriteInteger("WINDOW", "STATE", (ws & Qt::WindowMinimized) ? 1 : (ws & Qt::WindowMaximized) ? 2 : 0);
}
