#include "libs/hostedremoteaccess/CloudConfig.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/Resource.h"

namespace hostedremoteaccess {

namespace {

PLAT_LOG_SOURCE(vlog, "CloudConfig");

// The package file of the data directories, whole; throws when there is
// none or its size is out of bounds.
plat::Buffer readPackageFile() {
  std::vector<plat::CharArray> dirs = os::getDataDirs();
  std::vector<const char*> search;
  for (const plat::CharArray& dir : dirs) search.push_back(dir.get());
  plat::CharArray path = plat::findFileInDirs(kCloudConfigName, search);
  if (!path) throw plat::Exception("%s file not found", kCloudConfigName);
  vlog().info("Using %s", path.get());
  plat::FilePtr file;
  file.open(path.get(), plat::FilePtr::kRead);
  struct stat st;
  if (::fstat(::fileno(file.get()), &st) != 0) throw plat::SystemException("fstat", errno);
  if (st.st_size <= 0 || st.st_size > kCloudConfigMaxSize) throw plat::Exception("%s has bad size", path.get());
  return file.readAll(kCloudConfigMaxSize);
}

}  // namespace

plat::LinkedPtr<hosted::HostedEndpoint> loadCloudConfig(os::PersistentStore* store) {
  plat::Buffer file;
  try {
    file = readPackageFile();
  } catch (const plat::Exception& e) {
    vlog().debug("%s", e.str());
  }
  int32_t count = file.count();
  const void* data = file.data();
  if (count == 0) {
    vlog().info("Getting %s from built-in resource", kCloudConfigName);
    plat::Resource builtIn = plat::getResource(kCloudConfigName);
    if (!builtIn.data || builtIn.size == 0 || builtIn.size > kCloudConfigMaxSize)
      throw plat::Exception("%s not available", kCloudConfigName);
    count = static_cast<int32_t>(builtIn.size);
    data = builtIn.data;
  }
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint(
      new hosted::HostedEndpoint(nullptr, count, data, store, nullptr, nullptr, nullptr));
  vlog().info("Using business identifier %s", endpoint->businessId());
  return endpoint;
}

}  // namespace hostedremoteaccess
