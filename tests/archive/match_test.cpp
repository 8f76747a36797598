// Entry-name matching and the pattern check of the queuing calls.
#include <string>

#include <gtest/gtest.h>

#include "cx.h"

namespace {

bool Match(const char* pattern, const char* name) {
    std::string p = pattern, n = name;
    return cxMatchName(&p[0], &n[0]) == 0;
}

TEST(MatchName, StarsAndDots) {
    EXPECT_TRUE(Match("*.*", "README"));  // "*.*" means every name
    EXPECT_TRUE(Match("*.*", "A.B.C"));
    EXPECT_TRUE(Match("*", "ANYTHING.AT.ALL"));
    EXPECT_TRUE(Match("*.SYS", "DRAVELON.SYS"));
    EXPECT_FALSE(Match("*.SYS", "DRAVELON.VXD"));
    EXPECT_FALSE(Match("*.SYS", "DRAVELON.SYSX"));
    EXPECT_TRUE(Match("DRAV*", "DRAVELON_XP.SYS"));
    EXPECT_TRUE(Match("**", "X"));
    EXPECT_TRUE(Match("A*", "A"));
    EXPECT_FALSE(Match("A*B", "A"));
}

TEST(MatchName, CaseIsIgnoredAndBothSidesAreUpperCasedInPlace) {
    std::string p = "*.sys", n = "dravelon.sys";
    EXPECT_EQ(0, cxMatchName(&p[0], &n[0]));
    EXPECT_STREQ("*.SYS", p.c_str());
    EXPECT_STREQ("DRAVELON.SYS", n.c_str());
    std::string all = "*.*", name = "x";
    cxMatchName(&all[0], &name[0]);
    EXPECT_STREQ("*", all.c_str());
}

TEST(MatchName, QuestionMarkAndPlus) {
    EXPECT_TRUE(Match("A?C", "ABC"));
    EXPECT_FALSE(Match("A?C", "AC"));
    EXPECT_FALSE(Match("A?", "A"));
    EXPECT_TRUE(Match("A+", "AB"));
    EXPECT_TRUE(Match("A+", "ABCD"));
    EXPECT_FALSE(Match("A+", "A"));
}

TEST(MatchName, CharacterClasses) {
    EXPECT_TRUE(Match("[A-C]*", "BETA"));
    EXPECT_FALSE(Match("[A-C]*", "DELTA"));
    EXPECT_FALSE(Match("[!A]*", "ALPHA"));
    EXPECT_TRUE(Match("[!A]*", "BRAVO"));
    EXPECT_FALSE(Match("[^A]*", "ALPHA"));
    EXPECT_TRUE(Match("*[0-9]X", "AB5X"));
    EXPECT_FALSE(Match("*[0-9]X", "ABX"));
    EXPECT_TRUE(Match("[XYZ].TXT", "Y.TXT"));
    EXPECT_TRUE(Match("[-_]A", "_A"));
}

TEST(MatchName, NoBacktrackingAfterAStar) {
    // The first "B" after the star is taken; the rest must then match.
    EXPECT_FALSE(Match("*BC", "ABBC"));
    EXPECT_TRUE(Match("*BC", "ABC"));
}

TEST(MatchName, UnclosedClassStaysInsideThePattern) {
    // Each pattern sits in a buffer of its exact size, so reading past its
    // end shows up under the sanitizers.
    for (const char* text : {"[", "[A-", "*[AB", "[!", "A*["}) {
        std::string p = text;
        std::string n = "ABC";
        cxMatchName(&p[0], &n[0]);
    }
    EXPECT_TRUE(Match("*[AB", "XB"));
}

TEST(CheckPattern, WellFormedAndMalformed) {
    EXPECT_EQ(0, cxCheckPattern("*.*"));
    EXPECT_EQ(0, cxCheckPattern("C:\\DIR\\[A-C]*.T?T"));
    EXPECT_EQ(0, cxCheckPattern("\\["));  // an escaped "[" opens no class
    EXPECT_EQ(-1, cxCheckPattern("ABC\\"));
    EXPECT_EQ(-2, cxCheckPattern("[A-]"));
    EXPECT_EQ(-2, cxCheckPattern("[A-"));
    EXPECT_EQ(-3, cxCheckPattern("[ABC"));
    EXPECT_EQ(-3, cxCheckPattern("X[!"));
    EXPECT_EQ(CX_EARG, cxCheckPattern(nullptr));
}

}  // namespace
