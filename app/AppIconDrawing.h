#pragma once

#include <QByteArray>

class QPainter;

// The program's own icon, a blue disc with a white tick on a 32 x 32 grid, in the two forms that
// are needed: painted (window, notification area, the installed PNG sizes) and as SVG (the
// scalable icon of the desktop's theme). Both are drawn from the one set of shapes, so they
// cannot drift apart. QtGui only: the build-time icon writer uses it without any widgets.

// Paints the icon into the square (0, 0, size, size) of a transparent paint device.
void PaintApplicationIcon(QPainter& painter, int size);

// The same drawing as an SVG document with the 32 x 32 grid as its view box.
QByteArray ApplicationIconSvg();
