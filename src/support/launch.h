#pragma once
// Extension point for mode words that contain "launch_". This program defines
// no launch mode of its own: launch returns at once and the run ends with 0.
#include <string>

namespace support {

void launch(const std::string& mode);

}  // namespace support
