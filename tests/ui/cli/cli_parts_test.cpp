// The tests' own JSON reader.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "cli_process.h"

namespace tarnwick::cli {
namespace {

// The tests' reader of JSON lines refuses what a strict parser refuses.
TEST(ParseJson, FailsOnLinesThatAreNotJson) {
  for (const std::string bad : {"{\"a\":1", "{\"a\":\"\xFF\"}", "{\"a\":\"\x01\"}", "{\"a\":\"\\udc80\"}",
                                "{\"a\":1}x", "[1]", "\"text\""}) {
    EXPECT_NONFATAL_FAILURE(testing::ParseJson(bad), "not a JSON object");
  }
  EXPECT_EQ(testing::ParseJson(R"({"a":"x\"y","d":{"path":1}})").at("d").at("path"), 1);
}

}  // namespace
}  // namespace tarnwick::cli
