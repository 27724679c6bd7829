// QuickDraw pictures drawn straight into a cairo context, as vectors.
#pragma once

#include <cairo.h>

#include "render/styled.h"

namespace render {

// Draws `picture` with its frame filling the box at (x, y), w by h points.
void draw_picture(cairo_t *cr, const Picture &picture, double x, double y, double w, double h);

}  // namespace render
