#include "lines/VersionStem.h"

#include <gtest/gtest.h>

TEST(VersionStem, CutsBeforeTheLastCapitalV)
{
    EXPECT_EQ(VersionStem("ABC_DE_V1.0"), "ABC_DE_");
    EXPECT_EQ(VersionStem("AVB_CV1"), "AVB_C");
    EXPECT_EQ(VersionStem("V1.0"), "");
    EXPECT_EQ(VersionStem("abc_de_v1.0"), "");
    EXPECT_EQ(VersionStem("ABC_V1_v2"), "ABC_");
    EXPECT_TRUE(VersionStem("").isEmpty());
}

TEST(VersionStem, TailIsTheLastPBytesOfTheStem)
{
    EXPECT_EQ(StemTail("ABC_DE_V1.0"), "DE_");    // p = 3
    EXPECT_EQ(StemTail("AB_CDEF_V1"), "F_");      // p = 2
    EXPECT_EQ(StemTail("ABCDEFV2"), "ABCDEF");    // no underscore: whole stem
    EXPECT_EQ(StemTail("_ABC_V1"), "");           // p = 0
    EXPECT_EQ(StemTail("NO_CAPITAL_v1"), "");     // no stem at all
}
