#pragma once

#include <QIcon>

// The program's own icon (window and notification area): a blue disc with a white tick, drawn
// here so that it needs no image files.
QIcon ApplicationIcon();
