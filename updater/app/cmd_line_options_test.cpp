#include "updater/app/cmd_line_options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

// Parses the given arguments after a program name.
int ParseArgs(CCmdLineOptions& table, std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"updater.exe"};
  argv.insert(argv.end(), args.begin(), args.end());
  return table.Parse(static_cast<int>(argv.size()), argv.data());
}

// Every value of name, read until GetValue throws.
std::vector<std::string> Values(const CCmdLineOptions& table, const char* name) {
  std::vector<std::string> out;
  for (int i = 0;; ++i) {
    try {
      out.emplace_back(table.GetValue(name, i).GetString());
    } catch (int code) {
      EXPECT_EQ(code, 0);
      return out;
    }
  }
}

struct Case {
  std::vector<const char*> args;
  int keys;
  std::vector<std::pair<const char*, std::vector<std::string>>> expected;
};

void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::vector<const char*> argv{"updater.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string shown;
    for (const char* a : c.args) shown += std::string("[") + a + "]";
    SCOPED_TRACE(shown);
    CCmdLineOptions table;
    EXPECT_EQ(table.Parse(static_cast<int>(argv.size()), argv.data()), c.keys);
    for (const auto& [name, values] : c.expected) {
      EXPECT_TRUE(table.HasOption(name)) << name;
      EXPECT_EQ(Values(table, name), values) << name;
    }
  }
}

}  // namespace

TEST(CmdLineOptionsTest, IsOptionName) {
  for (const char* yes : {"-url", "--x", "-a1", "-\xB2\xCE", "-\x80", "- "})
    EXPECT_TRUE(CCmdLineOptions::IsOptionName(yes)) << yes;
  for (const char* no : {"-", "-5", "-0x", "-9", "url", "", "+x", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(CCmdLineOptions::IsOptionName(no)) << (no ? no : "(null)");
}

TEST(CmdLineOptionsTest, OptionsAndTheirValues) {
  Check({
      {{}, 0, {}},
      {{"-url", "A", "-dest", "B"}, 2, {{"-url", {"A"}}, {"-dest", {"B"}}}},
      {{"-dest", "B", "-url", "A"}, 2, {{"-url", {"A"}}, {"-dest", {"B"}}}},
      {{"-url"}, 1, {{"-url", {}}}},
      {{"-url", "-dest", "B"}, 2, {{"-url", {}}, {"-dest", {"B"}}}},
      {{"-url", "A", "B", "C"}, 1, {{"-url", {"A", "B", "C"}}}},
      {{"--x", "A"}, 1, {{"--x", {"A"}}}},
      {{"-url", "A", "-dest", "B", "-x", "C"}, 3, {{"-x", {"C"}}}},
  });
}

TEST(CmdLineOptionsTest, EmptyArguments) {
  Check({
      // The empty argument right after an option is consumed and dropped.
      {{"-url", "", "A"}, 1, {{"-url", {"A"}}}},
      {{"-url", "", ""}, 1, {{"-url", {""}}}},
      {{"-url", "A", ""}, 1, {{"-url", {"A", ""}}}},
      {{"", "-url", "A"}, 1, {{"-url", {"A"}}}},
  });
}

TEST(CmdLineOptionsTest, ValuesThatBeginWithAMinusSign) {
  Check({
      {{"-url", "-5"}, 1, {{"-url", {"-5"}}}},
      {{"-url", "-", "A"}, 1, {{"-url", {"-", "A"}}}},
      {{"-url", "A", "-0x", "-"}, 1, {{"-url", {"A", "-0x", "-"}}}},
  });
}

TEST(CmdLineOptionsTest, RepeatsAndLooseArguments) {
  Check({
      // The repeat keeps the first list; the value right after it is lost,
      // later loose arguments still join the first list.
      {{"-url", "A", "-url", "B", "C"}, 1, {{"-url", {"A", "C"}}}},
      {{"-url", "A", "-url", "-dest", "B"}, 2, {{"-url", {"A"}}, {"-dest", {"B"}}}},
      {{"A", "-url", "B"}, 1, {{"-url", {"B"}}}},
      {{"A", "B"}, 0, {}},
      {{"-url", "A", "C", "-dest", "B"}, 2, {{"-url", {"A", "C"}}, {"-dest", {"B"}}}},
  });
}

TEST(CmdLineOptionsTest, NamesAreCaseSensitiveAndByteExact) {
  CCmdLineOptions table;
  EXPECT_EQ(ParseArgs(table, {"-URL", "A", "-\xB2\xCE", "B"}), 2);
  EXPECT_TRUE(table.HasOption("-URL"));
  EXPECT_FALSE(table.HasOption("-url"));
  EXPECT_FALSE(table.HasOption("-Url"));
  EXPECT_THROW(table.GetValue("-url", 0), int);
  EXPECT_EQ(table.GetValue("-\xB2\xCE", 0), "B");
  EXPECT_FALSE(table.HasOption("-\xB2"));
}

TEST(CmdLineOptionsTest, MissingOptionOrIndexThrowsZero) {
  CCmdLineOptions table;
  ParseArgs(table, {"-url", "A", "B", "-dest"});
  EXPECT_EQ(table.GetValue("-url", 1), "B");
  for (auto [name, index] : std::vector<std::pair<const char*, int>>{
           {"-url", 2}, {"-url", -1}, {"-url", INT32_MIN}, {"-dest", 0}, {"-nope", 0}}) {
    try {
      table.GetValue(name, index);
      ADD_FAILURE() << name << " " << index << " did not throw";
    } catch (int code) {
      EXPECT_EQ(code, 0);
    }
  }
  EXPECT_TRUE(table.HasOption("-dest"));
}

TEST(CmdLineOptionsTest, SecondParseStartsAgain) {
  CCmdLineOptions table;
  EXPECT_EQ(ParseArgs(table, {"-url", "A", "-x", "C"}), 2);
  EXPECT_EQ(ParseArgs(table, {"-dest", "B"}), 1);
  EXPECT_FALSE(table.HasOption("-url"));
  EXPECT_FALSE(table.HasOption("-x"));
  EXPECT_EQ(table.GetValue("-dest", 0), "B");
  const char* only_program[] = {"updater.exe"};
  EXPECT_EQ(table.Parse(1, only_program), 0);
  EXPECT_EQ(table.Parse(0, nullptr), 0);
  EXPECT_FALSE(table.HasOption("-dest"));
}
