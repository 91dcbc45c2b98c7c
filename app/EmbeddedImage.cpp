#include "app/EmbeddedImage.h"

#include "resources/ResourceFilesystem.h"

#include <wx/image.h>

wxBitmap loadEmbeddedImage(const std::string& name) {
    const ResourceFile file = embeddedResources.open(name);
    const wxBitmap decoded = wxBitmap::NewFromPNGData(file.begin, file.size());
    const wxImage scaled = decoded.ConvertToImage().Scale(64, 64, wxIMAGE_QUALITY_NORMAL);
    return wxBitmap(scaled, -1);
}
