#include "resources/ResourceFilesystem.h"
#include "resources/EmbeddedFileList.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> readAsset(const std::string& name) {
    std::string path = ASSETS_DIR "/";
    path += name;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string notFoundText(const std::string& path) {
    try {
        embeddedResources.open(path);
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().category(), std::generic_category()) << path;
        EXPECT_EQ(error.code().value(), ENOENT) << path;
        return error.what();
    }
    return "opened";
}

TEST(ResourceFilesystem, ImagesAreEmbeddedWholeInRegistrationOrder) {
    const char* images[] = {"btn-host-default.png", "btn-host-hover.png", "btn-join-default.png",
                            "btn-join-hover.png", "icon.png"};
    const unsigned char* previousEnd = nullptr;
    for (const char* name : images) {
        const ResourceFile file = embeddedResources.open(name);
        const std::vector<unsigned char> onDisk = readAsset(name);
        ASSERT_EQ(file.size(), onDisk.size()) << name;
        EXPECT_EQ(std::memcmp(file.begin, onDisk.data(), onDisk.size()), 0) << name;
        EXPECT_EQ(std::memcmp(file.begin, "\x89PNG\r\n\x1a\n", 8), 0) << name;
        if (previousEnd) {
            EXPECT_GE(file.begin, previousEnd) << name << " is out of order";
        }
        previousEnd = file.end;
    }
}

TEST(ResourceFilesystem, SlashesAroundAndInsideThePathCollapse) {
    const ResourceFile icon = embeddedResources.open("icon.png");
    for (const char* path : {"/icon.png", "icon.png/", "//icon.png", "///icon.png//"}) {
        const ResourceFile again = embeddedResources.open(path);
        EXPECT_EQ(again.begin, icon.begin) << path;
        EXPECT_EQ(again.end, icon.end) << path;
    }
}

TEST(ResourceFilesystem, PathsThatNameNoFileFailWithTheCallersPath) {
    struct Case {
        const char* path;
        const char* message;
    } cases[] = {
        {"missing.png", "missing.png: no such file or directory"},
        {"/missing.png", "/missing.png: no such file or directory"},
        {"ICON.PNG", "ICON.PNG: no such file or directory"},
        {"./icon.png", "./icon.png: no such file or directory"},
        {".\\icon.png", ".\\icon.png: no such file or directory"},
        {"\\icon.png", "\\icon.png: no such file or directory"},
        {"a//b", "a//b: no such file or directory"},
        {"/", "/: no such file or directory"}, // the root is a directory
        {"//", "//: no such file or directory"},
        {"", "no such file or directory"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(notFoundText(c.path), c.message) << '"' << c.path << '"';
}

TEST(ResourceFilesystem, NormalizePath) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"", ""},          {"/", ""},       {"///", ""},           {"a", "a"},
                 {"/a/", "a"},      {"a//b", "a/b"}, {"a///b//c", "a/b/c"}, {"./a", "./a"},
                 {"\\a\\", "\\a\\"}};
    for (const Case& c : cases)
        EXPECT_EQ(normalizePath(c.in), c.out) << '"' << c.in << '"';
}

TEST(ResourceDirectory, ANameAddedTwiceKeepsItsFirstFile) {
    static const unsigned char first[] = "first";
    static const unsigned char second[] = "second";
    ResourceDirectory directory;
    const ResourceEntry* entry = directory.addFile("x", first, first + 5);
    const ResourceEntry* again = directory.addFile("x", second, second + 6);
    EXPECT_EQ(entry, again);
    ASSERT_TRUE(entry->isFile());
    EXPECT_EQ(std::get<const ResourceFile*>(entry->target)->begin, first);
}

// Every view, the program's own and any later one, shows each embedded file
// exactly where the build placed it.
TEST(ResourceFilesystem, EveryViewShowsTheEmbeddedFilesAsBuilt) {
    const std::span<const EmbeddedFile> files = embeddedFileList();
    ASSERT_FALSE(files.empty());
    const ResourceFilesystem first = getResourceFilesystem();
    const ResourceFilesystem second = getResourceFilesystem();
    for (const EmbeddedFile& file : files)
        for (const ResourceFilesystem* view : {&first, &second, &embeddedResources}) {
            const ResourceFile found = view->open(file.name);
            EXPECT_EQ(found.begin, file.begin) << file.name;
            EXPECT_EQ(found.end, file.end) << file.name;
        }
}

} // namespace
