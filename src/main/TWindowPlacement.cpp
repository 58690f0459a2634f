#include "TWindowPlacement.h"

#include "ZqIniFile.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QRect TWindowPlacement::OnScreen(const QRect &bounds)
{
    // The screen it stood on, if it is still there; else the primary one.
    const QScreen *s = QGuiApplication::screenAt(bounds.center());
    if (!s)
        s = QGuiApplication::primaryScreen();
    if (!s)
        return bounds;
    const QRect avail = s->availableGeometry();
    QRect r(bounds.topLeft(), bounds.size().boundedTo(avail.size()));
    r.moveLeft(qBound(avail.left(), r.left(), avail.left() + avail.width() - r.width()));
    r.moveTop(qBound(avail.top(), r.top(), avail.top() + avail.height() - r.height()));
    return r;
}

QRect TWindowPlacement::Restore(QWidget &window)
{
    if (IniReadInteger("WINDOW", "LEFT", -1) == -1) {
        const QScreen *s = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
        const QRect sg = s ? s->geometry() : QRect(0, 0, window.width(), window.height());
        window.move((sg.width() - window.width()) / 2, (sg.height() - window.height()) / 2);
        return QRect();
    }
    const int w = IniReadInteger("WINDOW", "WIDTH", window.width());
    const int h = IniReadInteger("WINDOW", "HEIGHT", window.height());
    window.resize(w, h);
    const QRect normal = OnScreen(QRect(IniReadInteger("WINDOW", "LEFT", 10), IniReadInteger("WINDOW", "TOP", 10),
                                        window.width(), window.height()));
    window.resize(normal.size());
    window.move(normal.topLeft());
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
