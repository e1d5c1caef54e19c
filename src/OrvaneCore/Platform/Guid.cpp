#include "OrvaneCore/Platform/Guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <random>

namespace Orvane {

namespace {

constexpr std::size_t CGuidLength = 38;

// The kernel's generator; a std::random_device stands in should getrandom be unavailable (an old
// kernel or a seccomp filter), so a GUID is never made from a predictable source.
void FillRandom(uint8_t (&ABytes)[16]) {
  std::size_t LFilled = 0;
  while (LFilled < sizeof(ABytes)) {
    ssize_t LRead = getrandom(ABytes + LFilled, sizeof(ABytes) - LFilled, 0);
    if (LRead > 0) {
      LFilled += static_cast<std::size_t>(LRead);
    } else if (LRead == 0 || errno != EINTR) {
      break;
    }
  }
  if (LFilled == sizeof(ABytes)) return;
  std::random_device LDevice;
  for (std::size_t LIndex = 0; LIndex < sizeof(ABytes); LIndex += 4) {
    uint32_t LWord = LDevice();
    for (std::size_t LByte = 0; LByte < 4; ++LByte) {
      ABytes[LIndex + LByte] = static_cast<uint8_t>(LWord >> (8 * LByte));
    }
  }
}

}  // namespace

std::string CreateGuidString() {
  uint8_t LBytes[16];
  FillRandom(LBytes);
  LBytes[6] = static_cast<uint8_t>((LBytes[6] & 0x0F) | 0x40);  // version 4: random
  LBytes[8] = static_cast<uint8_t>((LBytes[8] & 0x3F) | 0x80);  // variant 1 (RFC 4122)

  static constexpr char CHex[] = "0123456789ABCDEF";
  std::string LText;
  LText.reserve(CGuidLength);
  LText += '{';
  for (std::size_t LIndex = 0; LIndex < sizeof(LBytes); ++LIndex) {
    if (LIndex == 4 || LIndex == 6 || LIndex == 8 || LIndex == 10) LText += '-';
    LText += CHex[LBytes[LIndex] >> 4];
    LText += CHex[LBytes[LIndex] & 0x0F];
  }
  LText += '}';
  return LText;
}

}  // namespace Orvane
