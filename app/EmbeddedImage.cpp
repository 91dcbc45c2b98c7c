#include "app/EmbeddedImage.h"

#include "resources/ResourceFilesystem.h"

#include <wx/image.h>

#include <array>

namespace {

wxImage decodeEmbedded(const std::string& name) {
    const ResourceFile file = embeddedResources.open(name);
    return wxBitmap::NewFromPNGData(file.begin, file.size()).ConvertToImage();
}

wxBitmap scaledTo(const wxImage& image, int side) {
    return wxBitmap(image.Scale(side, side, wxIMAGE_QUALITY_NORMAL), -1);
}

} // namespace

wxBitmap loadEmbeddedImage(const std::string& name) {
    return scaledTo(decodeEmbedded(name), 64);
}

wxBitmapBundle loadEmbeddedImageBundle(const std::string& name) {
    const wxImage decoded = decodeEmbedded(name);
    wxVector<wxBitmap> sizes;
    for (const int side : std::array{64, 96, 128})
        sizes.push_back(scaledTo(decoded, side));
    return wxBitmapBundle::FromBitmaps(sizes);
}
