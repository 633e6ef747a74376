// The unit of the display and its surfaces: the DirectDraw object, clippers, palettes and
// surfaces, the display component with its drivers, its Direct3D set-up, texture images and
// Direct3D textures, and the accelerated 2-D drawer.
#pragma once

#include "framework/graphics/D2D.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXTextureImage.h"
#include "framework/graphics/Direct3DSetup.h"
#include "framework/graphics/Direct3DTexture2.h"
#include "framework/graphics/DirectDraw.h"
#include "framework/graphics/DirectDrawSurface.h"
