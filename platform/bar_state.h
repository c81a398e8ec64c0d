// The main window's stored bar layout (its tool bars' places), checked before
// the window restores it: Qt's own reader takes the layout's counts as they
// stand and loops over them, so a damaged value with a count near 2^31 keeps
// the restore busy for many seconds, and it makes a floating bar of whatever
// size the value gives. A value is taken only when it has the shape a window
// without dock widgets writes and its bars fit the desktop.
#pragma once

#include <QByteArray>
#include <QRect>

class QMainWindow;

// True when `stored` may be handed to the window's restore: the header, a
// dock section with no docks, and a whole tool-bar section, with every
// count met by the bytes that follow it and nothing after its end; each
// bar's flags as written, its place and preferred length along its line
// within the desktop's reach, and a floating bar on `desktop` (the virtual
// desktop's rectangle) with a width and height of at least one pixel.
bool bar_state_fits(const QByteArray& stored, const QRect& desktop);

// Restores `stored` in `window` when it fits the desktop of the window's
// screen; false when it was refused (the window keeps its layout) or Qt
// refused it.
bool bar_state_restore(QMainWindow* window, const QByteArray& stored);
