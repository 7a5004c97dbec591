#include <gtest/gtest.h>

#include <string>

#include "core/lumobj.h"

using namespace lum;

// The texts other parts raise and show, byte for byte: the quirks (doubled
// apostrophes, a trailing blank, format markers, old spellings) are part of
// what users and callers see.
TEST(MessageTable, TextsAreExactAndReachedByOffset) {
    const struct {
        std::uint16_t ident;
        const char* text;
    } cases[] = {
        {1, "Open Wave File"},
        {13, "AVI-Files(*.avi)|*.avi|Wave-Files(*.wav)|*.wav"},
        {22, "This application requires Version 2.00 or greater of the Audio Compression "
             "Manager (ACM). The version installed on this system is Version %u.%.02u. Most "
             "features of this application will not be available."},
        {70, "The actual device can''t play this format"},
        {79, "Unabele to restart device"},
        {87, "The actual device can''t record this format"},
        {103, "Invalid Index "},
        {105, "Could not create \"%s\""},
        {111, "File \"%s\" not found"},
        {130, "Error reading wave file"},
        {132, "InfoChunk %s not found"},
        {148, "Can't write to file, disk full ?"},
        {196, "Position"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadResStr(c.ident), c.text) << 28000 + c.ident;

    // The numbers between the groups are unused.
    for (std::uint16_t ident : {0, 14, 19, 26, 29, 34, 41, 52, 91, 99, 125, 149, 164, 172, 197})
        EXPECT_EQ(LoadResStr(ident), "") << 28000 + ident;
    int present = 0;
    for (int ident = 0; ident <= 200; ++ident)
        present += !LoadResStr(static_cast<std::uint16_t>(ident)).empty();
    EXPECT_EQ(present, 114);
}
