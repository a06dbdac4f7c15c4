#pragma once

#include <QSize>
#include <QtCore/qnamespace.h>
#include <QtGlobal>

class QFont;
class QWidget;

// The dialogs place their controls at fixed pixel sizes made for the desktop's default font (9 pt). A
// larger font needs more room: these helpers grow a dialog and everything placed in it by the ratio of
// the font to that default, so no text is clipped, and leave it exactly as made at the default font or a
// smaller one.

// How much larger than the default text the font's text is (line height and width, whichever grew
// more); 1 for the default font or a smaller one.
qreal FontScale(const QFont& font);

// Scales the fixed sizes of the dialog and of every control in it, and the places and sizes of the
// controls that are placed by hand rather than by a layout, by FontScale of the dialog's font. Call once,
// after the controls are made.
void ScaleToFont(QWidget* dialog);

// Makes room in a dialog whose controls are placed by hand, for a text that needs more than its place
// (a translation, a font the scale does not cover): the dialog grows by `by` pixels along x or y, the
// controls past `at` move with its far edge and those across `at` grow with it.
void GrowDialog(QWidget* dialog, Qt::Orientation along, int at, int by);

// The room a top-level window has on its screen: the screen's available area less the window's frame
// (its own once shown, else an allowance for a title bar and borders at the window's font).
QSize ScreenRoom(const QWidget* window);
