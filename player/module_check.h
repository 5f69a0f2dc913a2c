// A plausibility check for files offered to the command-line player. The loader accepts any
// block of 600 bytes or more as a 15-sample module, because that layout has no signature; this
// check tells such a module from a file that merely is long enough. The installer does not use
// it: its module is its own resource.
#pragma once
#include <cstddef>
#include <cstdint>

namespace korvane {

// True when data carries a signature or another tracker's tag at offset 1080, or when its
// 15-sample header is consistent: every sample's finetune is 0..15 and its volume 0..64, the
// song length is 1..128, the played orders name patterns 0..127, and the patterns the order
// table needs are all in the file.
bool LooksLikeModule(const std::uint8_t* data, std::size_t size);

}  // namespace korvane
