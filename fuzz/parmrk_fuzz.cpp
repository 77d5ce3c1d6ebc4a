// The marked-input decoder against a reference decoder written the plain
// way, one byte at a time over the whole stream. The input's first byte
// chooses where the stream is cut between reads: the decoder must give the
// same result however the bytes arrive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/serial_parmrk.h"

namespace {

using platform::BYTE;
using platform::DecodedInput;

// FF FF is a 0xFF; FF 00 00 a break; FF 00 c a character c with an error;
// FF c (c not 00 or FF) both bytes as they came. A sequence cut off by the
// end of the stream gives nothing yet.
DecodedInput Reference(std::span<const BYTE> raw) {
  DecodedInput out;
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != 0xFF) {
      out.bytes.push_back(raw[i++]);
      continue;
    }
    if (i + 1 >= raw.size()) break;
    const BYTE second = raw[i + 1];
    if (second == 0xFF) {
      out.bytes.push_back(0xFF);
      i += 2;
    } else if (second != 0x00) {
      out.bytes.push_back(0xFF);
      out.bytes.push_back(second);
      i += 2;
    } else {
      if (i + 2 >= raw.size()) break;
      const BYTE third = raw[i + 2];
      if (third == 0x00) {
        ++out.breaks;
      } else {
        out.marked.push_back(out.bytes.size());
        out.bytes.push_back(third);
      }
      i += 3;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 7;  // read sizes of 1 to 7 bytes, or all at once
  const std::span<const BYTE> raw(data + 1, size - 1);
  platform::ParmrkDecoder decoder;
  DecodedInput decoded;
  if (data[0] >= 0xF0) {
    decoder.Feed(raw, decoded);
  } else {
    for (std::size_t at = 0; at < raw.size(); at += step)
      decoder.Feed(raw.subspan(at, std::min(step, raw.size() - at)), decoded);
  }
  const DecodedInput expected = Reference(raw);
  if (decoded.bytes != expected.bytes || decoded.marked != expected.marked ||
      decoded.breaks != expected.breaks)
    std::abort();
  return 0;
}
