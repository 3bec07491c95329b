#pragma once

#include <QIcon>

// The program's own icon (window and notification area) in the usual sizes, painted by
// app/AppIconDrawing.h so that it needs no image files.
QIcon ApplicationIcon();

// The 16 x 16 yellow open folder of the folder buttons (Qt greys it for the disabled state).
QIcon OpenFolderIcon();

// The green check mark on OK.
QIcon CheckMarkIcon();
