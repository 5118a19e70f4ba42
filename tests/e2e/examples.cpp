#include "examples.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace e2e {

std::string ExampleBytes(const std::string& name) {
  std::ifstream in(std::string(KELVO_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read examples/" << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

RunOptions WithExamples() {
  return Keys("")
      .WithArgs({"/N", "/Y"})
      .WithCompanions(
          {"KELVO.TAB=" + ExampleBytes("KELVO.TAB"), "KELVO.EXT=" + ExampleBytes("KELVO.EXT")});
}

}  // namespace e2e
