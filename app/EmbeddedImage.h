#pragma once

#include <wx/bitmap.h>
#include <wx/bmpbndl.h>

#include <string>

// An embedded PNG decoded and scaled to the 64 x 64 pixels the window shows.
// Throws the filesystem's error when no such file is embedded.
wxBitmap loadEmbeddedImage(const std::string& name);

// The same image for displays at 100%, 150% and 200% (64, 96 and 128 pixels
// square): the toolkit picks the one for the window's scale, so that a button
// image keeps its place beside text that grows with the scale.
wxBitmapBundle loadEmbeddedImageBundle(const std::string& name);
