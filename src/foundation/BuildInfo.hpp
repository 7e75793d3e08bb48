#pragma once

#include "foundation/JSON.hpp"

namespace velmora::BuildInfo {

// The application's information dictionary, generated from the build: keys
// "CFBundleDisplayName", "CFBundleName", "CFBundleShortVersionString" and
// "CFBundleVersion". Readers treat a missing key and a non-string value alike.
const Json& infoDictionary();

}  // namespace velmora::BuildInfo
