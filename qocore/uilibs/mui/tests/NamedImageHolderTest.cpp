#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/uilibs/mui/NamedImageHolder.h"
#include "testing/FileFixtures.h"

namespace {

// A real image file in a resource folder of its own.
class NamedImageHolderTest : public testing::Test {
 protected:
  void SetUp() override {
    folder() = dir.path();
    previous = plat::resource_dir::set([] { return plat::CharArray(folder().c_str()); });
    qoutil_test::TestPng png;
    png.width = 4;
    png.height = 4;
    png.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    const std::vector<uint8_t> bytes = qoutil_test::encodePng(png);
    dir.write("holderdot.png", std::string(bytes.begin(), bytes.end()));
  }
  void TearDown() override {
    plat::resource_dir::set(previous);
    qoutil::setImageScale(1);
  }
  static std::string& folder() {
    static std::string path;
    return path;
  }

  yarl_test::TempDir dir;
  plat::resource_dir::DirFn previous = nullptr;
};

TEST_F(NamedImageHolderTest, LoadsAtTheScaledSizeAndReportsMissingImages) {
  mui::NamedImageHolder holder;
  qoutil::setImageScale(2);
  ASSERT_TRUE(holder.load("holderdot", {3, 3}, true));
  EXPECT_EQ(holder.image()->width(), 6);
  ASSERT_TRUE(holder.load("holderdot", {3, 3}, false));
  EXPECT_EQ(holder.image()->width(), 3);
  EXPECT_FALSE(holder.load("holdermissing", {3, 3}, false));
  EXPECT_EQ(mui::listImageSize, 16);
}

}  // namespace
