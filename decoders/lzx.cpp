// Placeholder until the decoder lands: every folder of this method fails cleanly.
#include "decoders/lzx.h"

namespace lzx {

int DecoderCreate(uint32_t*, const decoders::DecoderConfig*, PFNALLOC, PFNFREE, uint32_t*, void**,
                  const decoders::DecoderFileCallbacks*) {
    return decoders::DECODER_ERROR_CONFIGURATION;
}
int DecoderDecompress(void*, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
    return decoders::DECODER_ERROR_BAD_PARAMETERS;
}
int DecoderReset(void*) { return decoders::DECODER_ERROR_BAD_PARAMETERS; }
int DecoderDestroy(void*) { return decoders::DECODER_ERROR_BAD_PARAMETERS; }

}  // namespace lzx
