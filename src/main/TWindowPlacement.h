#pragma once
#include <QRect>

class QWidget;

// Where the main window stands, kept in [WINDOW]: read at start (centred on
// the screen the first time), written at exit from the bounds the window
// had when last neither maximized nor minimized.
class TWindowPlacement {
public:
    // Moves and sizes window as stored and sets its state; returns its
    // normal bounds (null when nothing was stored).
    static QRect Restore(QWidget &window);
    static void Save(const QWidget &window, const QRect &normalBounds);
    // bounds moved (and shrunk where needed) to lie wholly on a screen.
    static QRect OnScreen(const QRect &bounds);
};
