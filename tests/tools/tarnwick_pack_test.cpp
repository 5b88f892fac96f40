// tarnwick-pack run as a program, its images read back by the program's loader.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "programmer_state.h"
#include "platform_image_file.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using testing::LoadImage;

using testing::RandomBytes;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct PackRun {
  int status;
  std::string errors;
};

PackRun Pack(const std::string& arguments, const TempDir& dir) {
  const std::string errorFile = dir.File("stderr.txt");
  const std::string command = std::string(TARNWICK_PACK) + " " + arguments + " 2>" + errorFile;
  const int raw = std::system(command.c_str());
  const auto bytes = ReadBytes(errorFile);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(bytes.begin(), bytes.end())};
}

TEST(TarnwickPackTest, PackedImageLoadsBackToTheSameBytes) {
  TempDir dir;
  const auto raw = RandomBytes(65536, 11);
  WriteBytes(dir.File("fw.bin"), raw);
  ASSERT_EQ(Pack(dir.File("fw.bin") + " " + dir.File("fw.UPL"), dir).status, 0);

  const auto image = ReadBytes(dir.File("fw.UPL"));
  ASSERT_EQ(image.size(), raw.size());
  EXPECT_NE(image, raw) << "the image must be scrambled";
  auto state = std::make_unique<ProgrammerState>();
  ASSERT_TRUE(LoadImage(*state, dir.File("fw.UPL")).ok);
  ASSERT_EQ(state->imageLength, 65536u);
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), state->imageData.begin()));
}

TEST(TarnwickPackTest, RefusesMoreThan65536Bytes) {
  TempDir dir;
  WriteBytes(dir.File("big.bin"), RandomBytes(65537, 12));
  const PackRun run = Pack(dir.File("big.bin") + " " + dir.File("big.UPL"), dir);
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.errors.find("65537 bytes"), std::string::npos) << run.errors;
  EXPECT_NE(run.errors.find("at most 65536"), std::string::npos) << run.errors;
  EXPECT_FALSE(std::filesystem::exists(dir.File("big.UPL")));
}

TEST(TarnwickPackTest, UnpackOfALongerImageGivesWhatTheLoaderGives) {
  TempDir dir;
  auto stored = RandomBytes(70000, 13);
  WriteBytes(dir.File("long.UPL"), stored);
  ASSERT_EQ(Pack("--unpack " + dir.File("long.UPL") + " " + dir.File("long.bin"), dir).status, 0);
  const auto unpacked = ReadBytes(dir.File("long.bin"));
  stored.resize(65536);
  DescrambleImage(stored.data(), stored.size());
  EXPECT_EQ(unpacked, stored);
}

TEST(TarnwickPackTest, BadArgumentsAndMissingFiles) {
  TempDir dir;
  for (const std::string arguments : {"", "--bogus a b", "a", "a b c", "--unpack a", "--baud 5 a b"}) {
    const PackRun run = Pack(arguments, dir);
    EXPECT_EQ(run.status, 2) << arguments;
    // What was wrong, then the usage.
    EXPECT_EQ(run.errors.rfind("tarnwick-pack: ", 0), 0u) << arguments << "\n" << run.errors;
    EXPECT_NE(run.errors.find("\nusage: tarnwick-pack RAW-FILE IMAGE.UPL"), std::string::npos) << run.errors;
  }
  const PackRun missing = Pack("--unpack " + dir.File("none.UPL") + " " + dir.File("out.bin"), dir);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("none.UPL was not found."), std::string::npos) << missing.errors;
}

TEST(TarnwickPackTest, HelpVersionAndNamesThatLookLikeOptions) {
  TempDir dir;
  const std::string out = dir.File("stdout.txt");
  ASSERT_EQ(Pack("--version >" + out, dir).status, 0);
  const auto version = ReadBytes(out);
  EXPECT_EQ(std::string(version.begin(), version.end()), "tarnwick-pack " TARNWICK_VERSION "\n");
  ASSERT_EQ(Pack("-h >" + out, dir).status, 0);
  const auto help = ReadBytes(out);
  const std::string helpText(help.begin(), help.end());
  EXPECT_EQ(helpText.rfind("usage: tarnwick-pack RAW-FILE IMAGE.UPL", 0), 0u) << helpText;
  for (const char* listed : {"\n  --unpack ", "\n  --version ", "\nExit status: "}) {
    EXPECT_NE(helpText.find(listed), std::string::npos) << listed;
  }

  // After "--" a file may start with '-'.
  const auto raw = RandomBytes(300, 14);
  WriteBytes(dir.File("-raw.bin"), raw);
  const std::string cd = "cd " + dir.File("") + " && ";
  ASSERT_EQ(std::system((cd + TARNWICK_PACK + " -- -raw.bin -image.UPL").c_str()), 0);
  ASSERT_EQ(std::system((cd + TARNWICK_PACK + " --unpack -- -image.UPL back.bin").c_str()), 0);
  EXPECT_EQ(ReadBytes(dir.File("back.bin")), raw);
  EXPECT_NE(ReadBytes(dir.File("-image.UPL")), raw);
}

}  // namespace
}  // namespace tarnwick
