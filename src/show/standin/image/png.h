#pragma once
#include "image/image.h"

// Stand-in PNG reader (libpng underneath) until our own decoder is merged into this branch.
bool LoadPng(const char* path, Image* image, int alphaMode);
const char* PngError();
