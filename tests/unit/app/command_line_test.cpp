// Update mode is on exactly when the first argument is "-update" in any mix of case.
#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"

namespace {

struct CommandLineCase {
  const wchar_t* commandLine;
  int updateMode;
};

const CommandLineCase kCommandLines[] = {
    {L"PlinthwareUpdater.exe", 0},
    {L"PlinthwareUpdater.exe -update", 1},
    {L"PlinthwareUpdater.exe -UPDATE", 1},
    {L"PlinthwareUpdater.exe -Update", 1},
    {L"PlinthwareUpdater.exe -uPdAtE extra arguments", 1},
    {L"\"C:\\Program Files\\Plinthware\\PlinthwareUpdater.exe\" -update", 1},
    {L"PlinthwareUpdater.exe \"-update\"", 1},
    {L"PlinthwareUpdater.exe -update2", 0},
    {L"PlinthwareUpdater.exe update", 0},
    {L"PlinthwareUpdater.exe /update", 0},
    {L"PlinthwareUpdater.exe --update", 0},
    {L"PlinthwareUpdater.exe -updat", 0},
    {L"PlinthwareUpdater.exe \"-update \"", 0},
    {L"PlinthwareUpdater.exe x -update", 0},
    {L"PlinthwareUpdater.exe \"\" -update", 0},
};

TEST(CommandLine, UpdateModeOnlyForTheExactFirstArgument) {
  for (const CommandLineCase& c : kCommandLines) {
    EXPECT_EQ(c.updateMode, ReadCommandLine(c.commandLine)) << "command line: " << std::wstring(c.commandLine).size();
  }
}

TEST(CommandLine, OverlongFirstArgumentsAreNeverTheSwitch) {
  // 63 characters still fit the argument buffer, 64 and more do not; none of them is the switch,
  // whatever follows, and reading them never writes past the buffer.
  for (size_t length : {63u, 64u, 65u, 1000u, 40000u}) {
    std::wstring argument = L"-update" + std::wstring(length - 7, L'x');
    std::wstring commandLine = L"PlinthwareUpdater.exe " + argument + L" -update";
    EXPECT_EQ(0, ReadCommandLine(commandLine.c_str())) << "length " << length;
  }
  std::wstring padded = L"PlinthwareUpdater.exe -update" + std::wstring(57, L'\0');
  EXPECT_EQ(1, ReadCommandLine(padded.c_str()));
}

} // namespace
