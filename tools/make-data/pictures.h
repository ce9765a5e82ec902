// The four scene pictures and the closing logo, drawn procedurally at 640 × 480.
#pragma once
#include "art.h"
#include "png_writer.h"

namespace makedata {

Canvas DrawHairyOne();    // scene 1: a furry creature at dusk
Canvas DrawTwoMoons();    // scene 2: ridges under a ringed planet
Canvas DrawDeepWater();   // scene 3: under the sea
Canvas DrawBeachSunset(); // scene 4: holiday sunset (becomes a palette picture)
Canvas DrawLogo();        // closing: the word QUIMBLES

// Turns a canvas into a PNG of exactly targetSize bytes: the richest variant (most dither grain, or for
// palette pictures the finest dither) whose compressed file still leaves room for the padding chunk.
std::vector<uint8_t> CanvasToPng(const Canvas& canvas, size_t targetSize, bool palette, size_t idatSplit);

} // namespace makedata
