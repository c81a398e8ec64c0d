// The bars' extension icons, read when first drawn. The tool bar and the
// menu bar each build an extension button at construction; its icon is read
// from an image file, which loads every image-format plugin, though the
// button shows only when a bar overflows. The proxy defers the read.
#pragma once

class QApplication;

// Wraps the application's style once; later calls do nothing.
void deferred_icons_install(QApplication* app);
