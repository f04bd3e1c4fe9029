#pragma once
// The main page's pictures, drawn by the program itself: the header picture
// (bitmap 140 with its mask 144) and the device picture (147 with mask 149).
// The masks are the pictures' transparent parts.
#include <QPixmap>

namespace app {

inline constexpr int kHeaderPictureId = 140;
inline constexpr int kDevicePictureId = 147;

// A head with the three-point clip, facing a camera whose infrared light
// reaches it, on a dark blue band: 320 x 72.
QPixmap HeaderPicture();
// The camera on its monitor clip, lens and infrared ring: 96 x 72.
QPixmap DevicePicture();

} // namespace app
