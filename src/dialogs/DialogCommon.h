#pragma once
#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QSize>

class QDialog;
class QFrame;
class QListWidget;
class QPushButton;
class QWidget;

// The raised panel "pnButtons" holding one centred default button "&Ok"
// ("btOk"), margin above and below it.
QFrame *MakeOkPanel(QWidget *owner, int margin, QPushButton *&ok);

// Top-left corner that centres a window of size own over the owner's frame:
// each half truncated toward zero, a negative coordinate pulled back to 0.
QPoint CentredTopLeft(const QRect &owner, const QSize &own);

// Moves the dialog to the centred place over its owner (nothing without one).
void CentreOverOwner(QWidget *dialog, QWidget *owner);

// Fixed client size and a frame with a caption but no caption buttons.
void SetFixedDialogFrame(QDialog *dialog, int width, int height, bool closeButton = false);

// As SetFixedDialogFrame for a dialog laid out by a layout: the designed
// size, grown to what the layout needs (larger fonts), and never larger than
// the screen's available area.
void FitFixedDialog(QDialog *dialog, int width, int height, bool closeButton = false);

// List boxes keep the bytes of every entry beside the text they show, so what
// was read from a file or the server goes back out unchanged.
void AppendItem(QListWidget *list, const QByteArray &bytes);
void InsertItem(QListWidget *list, int row, const QByteArray &bytes);
QByteArray ItemBytes(const QListWidget *list, int row);
QList<QByteArray> AllItemBytes(const QListWidget *list);
