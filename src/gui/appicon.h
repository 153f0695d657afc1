// The program's icons, drawn rather than shipped as images, so that they
// are sharp at every size.
#pragma once

#include <QIcon>

namespace velotag::gui {

// The window and desktop icon: a price tag with a note on it.
QIcon AppIcon();
// A magnifying glass, for desktops whose icon theme has no "edit-find".
QIcon SearchIcon();

}  // namespace velotag::gui
