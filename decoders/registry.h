// Which decoder serves which compression method.
#pragma once

#include "decoders/decoder.h"

namespace decoders {

// Method bits 1 (MSZIP), 2 (Quantum) and 3 (LZX); nullptr for any other.
const DecoderOps* DecoderForMethod(unsigned method);

}  // namespace decoders
