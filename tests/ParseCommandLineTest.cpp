#include <gtest/gtest.h>

#include "startup/CommandLineParse.h"

using CommandLineParse::CommandArgs;
using CommandLineParse::ParseCommandLine;

namespace {

using Args = std::vector<std::string>;

TEST(ParseCommandLine, KeepsDashWordsWithoutTheirDashInOrder) {
  EXPECT_TRUE(ParseCommandLine("-1024 -768"));
  EXPECT_EQ(CommandArgs, (Args{"", "1024", "768"}));
  EXPECT_TRUE(ParseCommandLine("  -1024\t-768   "));
  EXPECT_EQ(CommandArgs, (Args{"", "1024", "768"}));
  EXPECT_TRUE(ParseCommandLine("--x -a-b"));
  EXPECT_EQ(CommandArgs, (Args{"", "-x", "a-b"}));
}

TEST(ParseCommandLine, DropsWordsWithoutADash) {
  EXPECT_TRUE(ParseCommandLine("x -y a-b"));
  EXPECT_EQ(CommandArgs, (Args{"", "y"}));
  EXPECT_FALSE(ParseCommandLine("768 1024"));
  EXPECT_EQ(CommandArgs, (Args{""}));
}

TEST(ParseCommandLine, EmptyOrBlankTextGivesNoArguments) {
  for (const char* text : {"", " ", "\t \t"}) {
    EXPECT_FALSE(ParseCommandLine(text)) << '"' << text << '"';
    EXPECT_EQ(CommandArgs, (Args{""}));
  }
}

TEST(ParseCommandLine, LoneDashFailsAndStopsReading) {
  EXPECT_FALSE(ParseCommandLine("-a - -b"));
  EXPECT_EQ(CommandArgs, (Args{"", "a"}));
  EXPECT_FALSE(ParseCommandLine("- -a"));
  EXPECT_EQ(CommandArgs, (Args{""}));
  EXPECT_FALSE(ParseCommandLine("-a -"));
  EXPECT_EQ(CommandArgs, (Args{"", "a"}));
}

TEST(ParseCommandLine, OnlyBlankAndTabSeparate) {
  EXPECT_TRUE(ParseCommandLine("\"-restore\" -output\n"));
  EXPECT_EQ(CommandArgs, (Args{"", "output\n"}));
  EXPECT_TRUE(ParseCommandLine("-a\r-b"));
  EXPECT_EQ(CommandArgs, (Args{"", "a\r-b"}));
}

TEST(ParseCommandLine, RebuildsTheArgumentsOnEveryCall) {
  ASSERT_TRUE(ParseCommandLine("-a -b -c"));
  EXPECT_TRUE(ParseCommandLine("-d"));
  EXPECT_EQ(CommandArgs, (Args{"", "d"}));
}

}  // namespace
