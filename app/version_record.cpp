// The version record of the stbmate executable (read back by FileVersionText). Compiled into
// the executable only, kept by the linker although nothing references it.
#include <cstdint>

#ifndef STBMATE_VERSION_MAJOR
#error "the build passes STBMATE_VERSION_MAJOR/MINOR/PATCH/TWEAK"
#endif

namespace {

constexpr std::uint32_t kMs =
    (std::uint32_t(STBMATE_VERSION_MAJOR) << 16) | std::uint32_t(STBMATE_VERSION_MINOR);
constexpr std::uint32_t kLs =
    (std::uint32_t(STBMATE_VERSION_PATCH) << 16) | std::uint32_t(STBMATE_VERSION_TWEAK);

constexpr unsigned char byteOf(std::uint32_t v, int i) {
    return (v >> (8 * i)) & 0xFF;
}

} // namespace

extern "C" __attribute__((used, retain))
const unsigned char stbmate_version_record[20] = {'S',
                                                  'T',
                                                  'B',
                                                  'M',
                                                  'V',
                                                  'E',
                                                  'R',
                                                  0x01,
                                                  byteOf(kMs, 0),
                                                  byteOf(kMs, 1),
                                                  byteOf(kMs, 2),
                                                  byteOf(kMs, 3),
                                                  byteOf(kLs, 0),
                                                  byteOf(kLs, 1),
                                                  byteOf(kLs, 2),
                                                  byteOf(kLs, 3),
                                                  0xBD,
                                                  0x04,
                                                  0xEF,
                                                  0xFE};
