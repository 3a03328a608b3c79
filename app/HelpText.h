#pragma once
// The fixed text of the help window, one list item per line.
#include <QStringList>

// Lines of the help text in display order. Empty strings are the blank lines between
// sections; indentation uses ideographic spaces so it lines up in the fixed-pitch font.
QStringList HelpTextLines();
