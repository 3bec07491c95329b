#pragma once

// The fixed version information that vorn_add_version_section() builds into an executable, in a
// section of its own so that it can be read from the file without running it. Plain C++ with no Qt:
// the generated source that defines it includes this header alone.

#include <cstdint>

#define VORN_VERSION_SECTION_NAME ".vorn_version"

inline constexpr std::uint32_t kVersionSectionSignature = 0xFEEF04BD;

// Five 32-bit words in the executable's byte order. Each version is two words, most significant
// first: major << 16 | minor, then patch << 16 | build.
struct TVersionSectionData
{
    std::uint32_t Signature;
    std::uint32_t ProductVersionMS;
    std::uint32_t ProductVersionLS;
    std::uint32_t FileVersionMS;
    std::uint32_t FileVersionLS;
};
static_assert(sizeof(TVersionSectionData) == 20, "the section's layout is read field by field from files");
