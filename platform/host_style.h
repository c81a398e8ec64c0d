// The application's style as the host installs it: a proxy over the
// platform's style that changes how two things are produced, never how they
// look. The bars' extension icons are read when first drawn (each bar builds
// an extension button at construction, and reading its icon loads every
// image-format plugin, though the button shows only when a bar overflows).
// Under Fusion the main window's tool-bar bevel is drawn with row fills:
// Fusion strokes its translucent edge lines pixel by pixel, and the raster
// engine hands such long runs of single pixels to worker threads, so the
// first paint started and waited on a pool of threads for two lines.
#pragma once

class QApplication;

// Wraps the application's style once; later calls do nothing.
void host_style_install(QApplication* app);
