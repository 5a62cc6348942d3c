// Shortening a message's quoted part to fit, with a stand-in for the field's
// measure: a text fits when it has at most so many bytes.
#include "platform/fit_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

auto AtMost(size_t bytes) {
    return [bytes](const std::string& text) { return text.size() <= bytes; };
}

TEST(FitQuotedText, ATextThatFitsOrHasNoQuotedPartIsKept) {
    EXPECT_EQ(AfxFitQuotedText("saved in \"/a/b\", deliver it", AtMost(100)),
              "saved in \"/a/b\", deliver it");
    EXPECT_EQ(AfxFitQuotedText("no quoted part at all", AtMost(5)), "no quoted part at all");
    EXPECT_EQ(AfxFitQuotedText("one \" quote only", AtMost(5)), "one \" quote only");
}

TEST(FitQuotedText, TheMiddleOfTheQuotedPartGivesWayAndNoMoreThanNeeded) {
    const std::string text = "in \"/0123456789/abcdefghij.txt\", bring it";  // 41 bytes
    // Besides the 26 quoted bytes there are 15, and "…" takes 3: 29 bytes
    // leave room for 11 of the quoted characters, the first 6 and the last 5.
    EXPECT_EQ(AfxFitQuotedText(text, AtMost(29)), "in \"/01234…j.txt\", bring it");
    EXPECT_EQ(AfxFitQuotedText(text, AtMost(40)), "in \"/0123456789…defghij.txt\", bring it");
}

TEST(FitQuotedText, CutsOnlyBetweenCharacters) {
    const std::string text = "\"付款清单付款清单\"后";  // 3 bytes a character
    EXPECT_EQ(AfxFitQuotedText(text, AtMost(20)), "\"付款…清单\"后");
    EXPECT_EQ(AfxFitQuotedText(text, AtMost(19)), "\"付款…单\"后");
}

TEST(FitQuotedText, WhatCannotFitKeepsOnlyTheEllipsis) {
    EXPECT_EQ(AfxFitQuotedText("a long message \"/x/y/z\" here", AtMost(3)),
              "a long message \"…\" here");
}

}  // namespace
