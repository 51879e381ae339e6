#pragma once
// Stands in for the platform's workspace as the UI asks it for file icons.
// The icons are generic pictures drawn here (a page for a file, a folder
// for a directory), 32 x 32 points, with one bitmap representation at the
// main screen's backing scale.

#include "platform/appkit/Image.h"

namespace appkit {

class Workspace {
 public:
  // The shared workspace, made on first use and never destroyed.
  static Workspace& shared();

  // iconForFile:: an autoreleased icon for the file or folder at the
  // path; null when nothing exists there.
  Image* iconForFile(const char* path);
  // iconForFileType:: an autoreleased document icon for files with the
  // extension (without the dot; any extension, also an empty one).
  Image* iconForFileType(const char* extension);

 private:
  Workspace() = default;
};

// The last path component's extension without the dot (pathExtension),
// pointing into the path; empty when it has none.
const char* pathExtension(const char* path);

}  // namespace appkit
