// Placeholders for compressors not built yet; each method's file removes its
// line here when it lands.
#include "cabbuild/folder_compressor.h"

namespace cabbuild {
}  // namespace cabbuild
