#pragma once
// Pictures of the program, drawn in code so that no image files need to ship.
#include <QIcon>
#include <QPixmap>

class QPainter;

// Main window and application icon: a magnifier over a musical note on a rounded square.
QIcon AppIcon();
// The drawing behind it, in a 100 x 100 box; the installed icon files are made from it too.
void DrawAppIcon(QPainter& p);
// Help window icon: a question mark in a round badge.
QIcon HelpIcon();
// Toolbar pictures, 32 x 32 with a transparent background.
QPixmap SearchGlyph();       // re-search: a magnifier with a circular arrow
QPixmap QuickSearchGlyph();  // quick search: a magnifier with a lightning bolt
