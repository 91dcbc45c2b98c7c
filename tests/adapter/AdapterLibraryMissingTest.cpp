// The adapter's construction when the embedded Wintun library cannot be mapped.

#include "adapter/VirtualAdapter.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(AdapterLibrary, ConstructionSaysWhyTheLibraryCouldNotBeLoaded) {
    // This program embeds an image under the library's name.
    try {
        VirtualAdapter adapter;
        FAIL() << "constructed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Cannot load the network adapter library (wintun.dll): the "
                                   "file is not a valid library (error 193)");
    }
}

} // namespace
