// The program's icon: a frame of film whose picture is drawn in alternating line pairs, a ball
// caught at two places by the two fields of the frame. Two images, 32 x 32 and 16 x 16, each in
// the 16 standard colours with transparent corners; other sizes are scaled from them without
// smoothing, so that every size keeps the drawn pixels.
#pragma once

#include <QIcon>
#include <QImage>

namespace tk {

// The image at any size from 1 px: 16 and 32 as drawn, other sizes scaled from the nearest
// drawn one (ARGB32; fully opaque or fully transparent pixels).
QImage ProgramIconImage(int size);
// Every window's icon: the two drawn images. Needs the GUI application.
QIcon ProgramIcon();

}  // namespace tk
