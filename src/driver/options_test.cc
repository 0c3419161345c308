#include "driver/options.h"

#include <gtest/gtest.h>

namespace tarnevos {
namespace {

TEST(DriverOptionsTest, ReadsTheOptionsInBothSpellings) {
  ParsedArguments parsed =
      ParseDriverArguments({"--root", "/srv/finques", "--session=/tmp/s",
                            "--output", "PDF:a b.pdf"});
  EXPECT_EQ(parsed.action, DriverAction::kRun);
  EXPECT_EQ(parsed.options.root, "/srv/finques");
  EXPECT_EQ(parsed.options.session, "/tmp/s");
  EXPECT_EQ(parsed.options.output, "PDF:a b.pdf");

  parsed = ParseDriverArguments({});
  EXPECT_EQ(parsed.action, DriverAction::kRun);
  EXPECT_TRUE(parsed.options.root.empty());
  EXPECT_FALSE(parsed.options.output.has_value());

  // The last of a repeated option counts; "=" may be part of a value.
  parsed = ParseDriverArguments({"--root=a", "--root=b=c"});
  EXPECT_EQ(parsed.options.root, "b=c");
}

TEST(DriverOptionsTest, HelpVersionAndUsageErrors) {
  struct Case {
    std::vector<std::string> arguments;
    DriverAction action;
    std::string error;
  };
  const Case cases[] = {
      {{"--help"}, DriverAction::kHelp, ""},
      {{"-h"}, DriverAction::kHelp, ""},
      {{"--root", "x", "--version"}, DriverAction::kVersion, ""},
      {{"--version", "--help"}, DriverAction::kVersion, ""},
      {{"--colour"}, DriverAction::kUsageError, "unknown option --colour"},
      {{"--help=yes"}, DriverAction::kUsageError, "unknown option --help=yes"},
      {{"-r", "x"}, DriverAction::kUsageError, "unknown option -r"},
      {{"finques"}, DriverAction::kUsageError, "unexpected argument finques"},
      {{"--root"}, DriverAction::kUsageError, "--root needs a folder"},
      {{"--session="}, DriverAction::kUsageError, "--session needs a folder"},
      {{"--output", ""}, DriverAction::kUsageError, "--output needs a device"},
      // A usage error before --help stops the reading.
      {{"--bad", "--help"}, DriverAction::kUsageError, "unknown option --bad"},
  };
  for (const Case& c : cases) {
    const ParsedArguments parsed = ParseDriverArguments(c.arguments);
    EXPECT_EQ(parsed.action, c.action) << c.arguments[0];
    EXPECT_EQ(parsed.error, c.error) << c.arguments[0];
  }
  EXPECT_EQ(DriverUsage().find("usage: tarnevos [--root DIR] [--session DIR] "
                               "[--output DEVICE]\n"),
            0u);
  EXPECT_NE(DriverUsage().find("keldades new"), std::string::npos);
  EXPECT_EQ(DriverVersion(),
            std::string("tarnevos ") + TARNEVOS_VERSION + "\n");
}

TEST(DriverOptionsTest, SplitsTheDriversOptionsFromAModesOwn) {
  std::vector<std::string> driver, rest;
  SplitDriverArguments({"--cutoff", "2026-11-30", "--root", "/srv/kel",
                        "--output=PDF:x.pdf", "--copies", "0", "--session",
                        "/tmp/s", "--help", "--xlsx", "a.xlsx", "--root"},
                       driver, rest);
  EXPECT_EQ(driver, (std::vector<std::string>{"--root", "/srv/kel",
                                              "--output=PDF:x.pdf", "--session",
                                              "/tmp/s", "--help", "--root"}));
  EXPECT_EQ(rest,
            (std::vector<std::string>{"--cutoff", "2026-11-30", "--copies", "0",
                                      "--xlsx", "a.xlsx"}));
  // What the driver gets reads as its own command line.
  EXPECT_EQ(ParseDriverArguments({"--root", "/srv/kel", "--output=PDF:x.pdf"})
                .options.output.value_or(""),
            "PDF:x.pdf");
  EXPECT_NE(DriverUsage().find("tarnevos --batch --cutoff DATE"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnevos
