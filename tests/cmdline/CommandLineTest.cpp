#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace vornesk {
namespace {

TEST(NumberRule, ReadsWidthsAndHeightsExactly) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const std::vector<Case> cases = {
      {"800", 800},
      {"0768", 768},  // leading zeros are decimal, not octal
      {"0", 0},
      {"+800", 800},
      {"-5", -5},
      {"   800", 800},          // leading spaces are skipped
      {"800 ", std::nullopt},   // trailing ones are not
      {"\t800", std::nullopt},  // only spaces count as spaces
      {"800px", std::nullopt},
      {"8 00", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-5", std::nullopt},
      {"2147483647", 2147483647},
      {"2147483648", std::nullopt},
      {"-2147483648", INT32_MIN},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"$320", 800},
      {"0x258", 600},
      {"0X258", 600},
      {"x258", 600},
      {"X1f", 31},
      {"-$10", -16},
      {" +0x10", 16},
      {"$FFFFFFFF", -1},  // all 32 bits, two's complement
      {"$80000000", INT32_MIN},
      {"-$FFFFFFFF", 1},
      {"$0000000000000010", 16},     // leading zeros do not count
      {"$100000000", std::nullopt},  // more than 32 bits
      {"$", std::nullopt},
      {"x", std::nullopt},
      {"0x", std::nullopt},
      {"-0x", std::nullopt},
      {"0x0x1", std::nullopt},
      {"$12G", std::nullopt},
      {"$ 1", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
    EXPECT_EQ(StrToIntDef(c.text, 1024), c.value.value_or(1024)) << '"' << c.text << '"';
  }
}

TEST(Params, EmptyArgumentsAreSkippedAndMissingOnesReadEmpty) {
  const char* argv[] = {"vornesk", "http://127.0.0.1/", "", "800", "600", "x.bmp", "extra"};
  const TParams params(7, argv);
  EXPECT_EQ(params.ParamCount(), 5);
  EXPECT_EQ(params.ParamStr(1), "http://127.0.0.1/");
  EXPECT_EQ(params.ParamStr(2), "800");
  EXPECT_EQ(params.ParamStr(3), "600");
  EXPECT_EQ(params.ParamStr(4), "x.bmp");
  EXPECT_EQ(params.ParamStr(6), "");
  EXPECT_EQ(params.ParamStr(0), "") << "the program's own path is not a parameter";
  EXPECT_EQ(params.ParamStr(-1), "");

  const char* none[] = {"vornesk", ""};
  EXPECT_EQ(TParams(2, none).ParamCount(), 0);
  EXPECT_EQ(TParams(std::vector<std::string>{"a", "", "b"}).ParamStr(2), "b");
}

TEST(Extension, IsTheLowerCasedTextFromTheLastDot) {
  struct Case {
    const char* path;
    const char* extension;
  };
  const std::vector<Case> cases = {
      {"out.png", ".png"},
      {"Shot.PNG", ".png"},
      {"shot.Png", ".png"},
      {"shot.JPG", ".jpg"},
      {"photo.jpeg", ".jpeg"},
      {"archive.tar.BMP", ".bmp"},
      {"noextension", ""},
      {"trailing.", "."},
      {"folder.d\\name", ""},  // a dotted folder, a name without extension
      {"c:name", ""},
      {"folder.d/name", ".d/name"},  // "/" is an ordinary character here
      {"/tmp/a.b/c.PnG", ".png"},
      {"ÄÖ.BMP", ".bmp"},  // only A to Z change case
      {"x.ÄB", ".Äb"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(OutputExtension(c.path), c.extension) << c.path;
  EXPECT_EQ(ExtractFileExt("Shot.PNG"), ".PNG") << "the name itself keeps its case";
}

}  // namespace
}  // namespace vornesk
