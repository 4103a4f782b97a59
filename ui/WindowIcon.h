// The program's window icon.
#pragma once

#include <QIcon>

// The icon from the PNGs the build rendered from rq905.svg (":/icon/rq905-<px>.png").
// A size is read only when a window asks for it, by Qt's own PNG reader,
// so that showing the first window loads neither the SVG icon engine nor
// any image-format plugin, nor decodes sizes no one draws.
QIcon WindowIcon();
