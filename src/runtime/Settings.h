#pragma once

#include <string>

#include "platform/Platform.h"

namespace runtime {

/// Returns the text saved under the three names, or empty text when there is none.
inline std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key) {
  return platform::QuerySetting(appName, section, key).value_or("");
}

}  // namespace runtime
