#pragma once

#include <wx/bitmap.h>

#include <string>

// An embedded PNG decoded and scaled to the 64 x 64 pixels the window shows.
// Throws the filesystem's error when no such file is embedded.
wxBitmap loadEmbeddedImage(const std::string& name);
