#include <gtest/gtest.h>

#include <string>

#include "platform/appkit/Metrics.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "testing/FileFixtures.h"

namespace ui {
namespace {

TEST(CocoaImageTest, FileIconsComeFromTheFileOrElseItsExtension) {
  objc::AutoreleasePool pool;
  yarl_test::TempDir dir;
  const std::string file = dir.write("setup.pkg", "x");
  const std::pair<std::string, const char*> cases[] = {
      {file, "document"},
      {dir.path(), "folder"},
      // Nothing there: the icon of the extension's file type.
      {dir / "gone.pdf", "document"},
      {dir / "gone", "document"},
  };
  for (const auto& [path, kind] : cases) {
    appkit::Image* icon = fileIcon(path.c_str());
    ASSERT_NE(icon, nullptr) << path;
    EXPECT_STREQ(icon->iconKind(), kind) << path;
    EXPECT_EQ(icon->size(), (appkit::Size{appkit::kFileIconSize, appkit::kFileIconSize}));
  }
  drawImage(nullptr, appkit::makeRect(0, 0, 1, 1), 1);
  drawImageAt(nullptr, appkit::Point{}, 1);
}

}  // namespace
}  // namespace ui
