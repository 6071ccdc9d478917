#pragma once

#include <Qt>

// The window flags, beyond the usual ones, that a window offering no
// minimize, maximize or close needs on this platform. On Wayland the frame is
// Qt's own (or the compositor's, which knows nothing of the flags), and Qt's
// draws all three buttons whatever the flags say, so only a window without
// that frame offers none (nor a title, nor a way to drag it). On X11,
// offerNoWindowButtons (platform/linux/motifhints.h) asks for the same.
Qt::WindowFlags noWindowButtonsFlags();
