#include "decoders/registry.h"

#include "decoders/lzx.h"
#include "decoders/mszip.h"
#include "decoders/quantum.h"

namespace decoders {

const DecoderOps* DecoderForMethod(unsigned method) {
    switch (method) {
        case tcompTYPE_MSZIP: return &mszip::kOps;
        case tcompTYPE_QUANTUM: return &quantum::kOps;
        case tcompTYPE_LZX: return &lzx::kOps;
        default: return nullptr;
    }
}

}  // namespace decoders
