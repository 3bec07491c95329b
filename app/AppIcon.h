#pragma once

#include <QIcon>

// The program's own icon (window and notification area): a blue disc with a white tick, drawn
// here so that it needs no image files.
QIcon ApplicationIcon();

// The 16 x 16 yellow open folder of the folder buttons (Qt greys it for the disabled state).
QIcon OpenFolderIcon();

// The green check mark on OK.
QIcon CheckMarkIcon();
