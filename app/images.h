// The window's images as GIF89a data, wrapped from app/images/ at build time.
#pragma once

namespace vdx {

extern const unsigned char logoImage[];  // 104 x 34
extern const unsigned char miniImage[];  // 16 x 16

}  // namespace vdx
