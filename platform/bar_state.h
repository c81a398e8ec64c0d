// The main window's stored bar layout (its tool bars' places), checked before
// the window restores it: Qt's own reader takes the layout's counts as they
// stand and loops over them, so a damaged value with a count near 2^31 keeps
// the restore busy for many seconds. A value is taken only when it has the
// shape a window without dock widgets writes.
#pragma once

#include <QByteArray>

class QMainWindow;

// True when `stored` may be handed to the window's restore: the header, a
// dock section with no docks, and a whole tool-bar section, with every
// count met by the bytes that follow it and nothing after its end.
bool bar_state_fits(const QByteArray& stored);

// Restores `stored` in `window` when it fits; false when it was refused (the
// window keeps its layout) or Qt refused it.
bool bar_state_restore(QMainWindow* window, const QByteArray& stored);
