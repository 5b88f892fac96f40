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
  EXPECT_EQ(Pack("", dir).status, 2);
  EXPECT_EQ(Pack("--bogus a b", dir).status, 2);
  EXPECT_EQ(Pack("--help >/dev/null", dir).status, 0);
  EXPECT_EQ(Pack("--version >/dev/null", dir).status, 0);
  const PackRun missing = Pack("--unpack " + dir.File("none.UPL") + " " + dir.File("out.bin"), dir);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("none.UPL was not found."), std::string::npos) << missing.errors;
}

}  // namespace
}  // namespace tarnwick
