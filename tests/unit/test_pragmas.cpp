#include <gtest/gtest.h>

#include "driver/Pragmas.h"

namespace ferrow {
namespace {

TEST(Pragmas, CommentBlankAndVersionBeforeCode) {
    const Pragmas p = scanPragmas("# a comment\n\n#pragma version 0.4\nprint(1)\n");
    EXPECT_FALSE(p.watch);
    EXPECT_EQ(p.version, "0.4");
    EXPECT_TRUE(p.unknown.empty());
}

TEST(Pragmas, WatchAndHotreloadBothRequestWatching) {
    EXPECT_TRUE(scanPragmas("#pragma watch\n").watch);
    EXPECT_TRUE(scanPragmas("#pragma hotreload\nx = 1\n").watch);
    EXPECT_FALSE(scanPragmas("#pragma Watch\n").watch);
}

TEST(Pragmas, ExtraSpacesAndIndentationAreAllowed) {
    EXPECT_TRUE(scanPragmas("#pragma    watch   \n").watch);
    EXPECT_TRUE(scanPragmas("  \t#pragma watch\n").watch);
    EXPECT_TRUE(scanPragmas("#pragma\twatch\n").watch);
}

TEST(Pragmas, CarriageReturnIsTrimmed) {
    const Pragmas p = scanPragmas("#pragma watch\r\n#pragma version 0.5\r\nx\r\n");
    EXPECT_TRUE(p.watch);
    EXPECT_EQ(p.version, "0.5");
}

TEST(Pragmas, ByteOrderMarkIsSkipped) {
    EXPECT_TRUE(scanPragmas("\xEF\xBB\xBF#pragma watch\n").watch);
}

TEST(Pragmas, ScanStopsAtFirstLineOfCode) {
    const Pragmas p = scanPragmas("print(1)\n#pragma watch\n#pragma bogus\n");
    EXPECT_FALSE(p.watch);
    EXPECT_TRUE(p.unknown.empty());
}

TEST(Pragmas, WordsThatMerelyStartWithPragmaAreComments) {
    const Pragmas p = scanPragmas("#pragmatic watch\n#pragma watch\n");
    EXPECT_TRUE(p.watch);
    EXPECT_TRUE(p.unknown.empty());
}

TEST(Pragmas, UnknownNamesKeepArgumentsAndLine) {
    const Pragmas p = scanPragmas("# header\n#pragma optimize  fast  please \n");
    ASSERT_EQ(p.unknown.size(), 1u);
    EXPECT_EQ(p.unknown[0].name, "optimize");
    EXPECT_EQ(p.unknown[0].args, "fast  please");
    EXPECT_EQ(p.unknown[0].line, 2);
}

TEST(Pragmas, BarePragmaIsUnknownWithEmptyName) {
    const Pragmas p = scanPragmas("#pragma\n#pragma\r\n");
    ASSERT_EQ(p.unknown.size(), 2u);
    EXPECT_EQ(p.unknown[0].name, "");
    EXPECT_EQ(p.unknown[0].line, 1);
    EXPECT_EQ(p.unknown[1].name, "");
    EXPECT_EQ(p.unknown[1].line, 2);
}

TEST(Pragmas, LaterVersionReplacesEarlierEvenWhenEmpty) {
    EXPECT_EQ(scanPragmas("#pragma version 9\n#pragma version 0.1\n").version, "0.1");
    EXPECT_EQ(scanPragmas("#pragma version 9\n#pragma version\n").version, "");
    EXPECT_EQ(scanPragmas("#pragma version 9\n#pragma version   \n").version, "");
}

TEST(Pragmas, EmptySourceHasNoPragmas) {
    const Pragmas p = scanPragmas("");
    EXPECT_FALSE(p.watch);
    EXPECT_TRUE(p.version.empty());
    EXPECT_TRUE(p.unknown.empty());
}

TEST(VersionAtLeast, MissingPiecesCountAsZero) {
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.5"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.5.0.0"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.4"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.4.99"));
    EXPECT_FALSE(versionAtLeast("0.5.0", "0.5.1"));
    EXPECT_FALSE(versionAtLeast("0.5.0", "1"));
    EXPECT_FALSE(versionAtLeast("0.5.0", "0.5.0.1"));
}

TEST(VersionAtLeast, PiecesAreReadLeniently) {
    EXPECT_TRUE(versionAtLeast("0.5.0", "ver1"));     // reads as 0
    EXPECT_FALSE(versionAtLeast("0.5.0", "ver1.9"));  // reads as 0.9
    EXPECT_TRUE(versionAtLeast("0.5.0", " 0.5"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.5rc2"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.-3"));
    EXPECT_FALSE(versionAtLeast("0.5.0", "0.+6"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "0..0"));
}

TEST(VersionAtLeast, TrailingDotAddsNoPiece) {
    EXPECT_TRUE(versionAtLeast("0.5.0", "0.5."));
    EXPECT_TRUE(versionAtLeast("0.5", "0.5."));
    EXPECT_TRUE(versionAtLeast("0.5.0", ""));
}

TEST(VersionAtLeast, HugePiecesDoNotOverflow) {
    EXPECT_FALSE(versionAtLeast("0.5.0", "99999999999999999999999999"));
    EXPECT_TRUE(versionAtLeast("0.5.0", "-99999999999999999999999999"));
}

}  // namespace
}  // namespace ferrow
