#include "ddm/dss_layer.h"

namespace drda {

void DdmDecoder::decode_buffer(TextWriter&, int, ByteView) {}

}  // namespace drda
