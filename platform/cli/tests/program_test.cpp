// The command-line layer as a person meets it: help anywhere does nothing else, mistakes are named
// in words with exit code 1, and a folder without a machine is refused.
#include "sx/cli/program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sx/cli/values.h"
#include "sx/machine.h"
#include "sx/testing/temp_machine.h"

namespace sx::cli {
namespace {

struct Outcome {
  int code = -1;
  std::string out, err;
};

// A small program: "tool add NAME [--id N] [--level L]", "tool make" (needs no machine), "tool
// group" (only subcommands). Each action counts its runs.
class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() : program_("tool", "A tool for tests.") {
    CLI::App* add = program_.app().add_subcommand("add", "adds a thing");
    add->add_option("NAME", name_, "the thing's name")->required();
    add->add_option("--id", id_, "the thing's ID, " + number_range_text(0, 4294967295))
        ->transform(number(0, 4294967295));
    add->add_option("--level", level_, "low, middle or high")
        ->transform(one_of({"low", "middle", "high"}));
    program_.action(add, [this] {
      ++runs_;
      return kExitSuccess;
    });
    CLI::App* make = program_.app().add_subcommand("make", "makes a machine");
    program_.action(
        make,
        [this] {
          ++runs_;
          return kExitSuccess;
        },
        Machine::kAny);
    CLI::App* group = program_.app().add_subcommand("group", "a group of commands");
    CLI::App* inner = group->add_subcommand("inner", "the inner command");
    program_.action(inner, []() -> int { throw Failure("The inner command failed."); });
  }

  Outcome run(std::vector<std::string> args) {
    args.insert(args.begin(), "tool");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Outcome o;
    o.code = program_.run(static_cast<int>(argv.size()), argv.data());
    o.out = ::testing::internal::GetCapturedStdout();
    o.err = ::testing::internal::GetCapturedStderr();
    return o;
  }

  sx::testing::TempMachine machine_;
  Program program_;
  std::string name_, level_;
  std::uint32_t id_ = 0;
  int runs_ = 0;
};

TEST_F(ProgramTest, HelpAnywhereOnTheLinePrintsTheLastCommandsHelpAndRunsNothing) {
  for (std::vector<std::string> line : {std::vector<std::string>{"--help"},
                                        {"add", "--help"},
                                        {"add", "Jo", "--id", "5", "-h"},
                                        {"--help", "add", "Jo"},
                                        {"add", "--id", "--help"},
                                        {"add", "Jo", "/?"},
                                        {"group", "inner", "--help"},
                                        {"add", "--id", "xyz", "--help"}}) {
    Outcome o = run(line);
    EXPECT_EQ(o.code, 0) << line.back();
    EXPECT_EQ(o.err, "");
    EXPECT_NE(o.out.find("Usage: tool"), std::string::npos) << o.out;
  }
  EXPECT_EQ(runs_, 0);
  EXPECT_NE(run({"add", "--help"}).out.find("the thing's name"), std::string::npos);
  EXPECT_NE(run({"group", "inner", "-h"}).out.find("Usage: tool group inner"), std::string::npos);
}

TEST_F(ProgramTest, ValuesAreCheckedAndMistakesNamedWithExitCodeOne) {
  struct Case {
    std::vector<std::string> line;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{"add", "Jo", "--id", "xyz"},
            "ERROR: --id: \"xyz\" is not a whole number from 0 to 4294967295.\n"},
           {{"add", "Jo", "--id", "-5"},
            "ERROR: --id: \"-5\" is not a whole number from 0 to 4294967295.\n"},
           {{"add", "Jo", "--id", "99999999999"},
            "ERROR: --id: \"99999999999\" is not a whole number from 0 to 4294967295.\n"},
           {{"add", "Jo", "--id"},
            "ERROR: --id needs a value: the thing's ID, a whole number from 0 to 4294967295.\n"},
           {{"add", "Jo", "--level", "banana"},
            "ERROR: --level: \"banana\" is not one of: low, middle, high.\n"},
           {{"add", "Jo", "--bogus"}, "ERROR: \"--bogus\" is not an option of tool add.\n"},
           {{"add", "Jo", "extra"}, "ERROR: \"extra\" is one argument too many for tool add.\n"},
           {{"add"}, "ERROR: tool add needs NAME.\n"},
           {{"bogus"},
            "ERROR: \"bogus\" is not a command of tool; its commands are add, make, group.\n"},
           {{"group"}, "ERROR: tool group needs a command: inner.\n"},
           {{}, "ERROR: tool needs a command: add, make, group.\n"},
       }) {
    Outcome o = run(c.line);
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "");
    ASSERT_EQ(o.err.substr(0, c.message.size()), c.message) << o.err;
    EXPECT_NE(o.err.find("--help\" for usage."), std::string::npos) << o.err;
  }
  EXPECT_EQ(runs_, 0);
}

TEST_F(ProgramTest, NumbersAreDecimalOrHexAndLevelsIgnoreCase) {
  ASSERT_EQ(run({"add", "Jo", "--id", "010", "--level", "HIGH"}).code, 0);
  EXPECT_EQ(id_, 10u);  // not octal
  EXPECT_EQ(level_, "high");
  ASSERT_EQ(run({"add", "Jo", "--id", "0xFFFFFFFF"}).code, 0);
  EXPECT_EQ(id_, 0xFFFFFFFFu);
  EXPECT_EQ(runs_, 2);
}

TEST_F(ProgramTest, AFolderWithoutAMachineIsRefusedExceptByCommandsThatMakeOne) {
  const auto empty = machine_.root() / "nothing here";
  Outcome o = run({"--machine", empty.string(), "add", "Jo"});
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.err, "ERROR: There is no machine at " + empty.string() +
                       ". Make one with: sxmachine --machine '" + empty.string() + "' create\n");
  EXPECT_FALSE(std::filesystem::exists(empty));
  EXPECT_EQ(run({"make", "--machine", empty.string()}).code, 0);  // after the command: the same
  EXPECT_EQ(sx::machine::root(), empty);
  EXPECT_EQ(run({"--machine", "", "add", "Jo"}).err.substr(0, 34),
            "ERROR: --machine needs a folder.\nT");
  EXPECT_EQ(runs_, 1);
}

TEST_F(ProgramTest, AFailureOfACommandIsPrintedAsAnError) {
  Outcome o = run({"group", "inner"});
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.err, "ERROR: The inner command failed.\n");
}

TEST(PositionalArgumentsTest, WindowsSwitchesPassAsTheyStandButMachineAndHelpKeepTheirMeaning) {
  using V = std::vector<std::string>;
  EXPECT_EQ(as_positional_arguments(V{"/install", "--machine", "m", "-INSTALL"}),
            (V{"--machine", "m", "--", "/install", "-INSTALL"}));
  EXPECT_EQ(as_positional_arguments(V{"--help"}), (V{"--help"}));
  EXPECT_EQ(as_positional_arguments(V{}), V{});
}

}  // namespace
}  // namespace sx::cli
