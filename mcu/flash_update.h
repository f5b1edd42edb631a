#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/progress.h"
#include "device/device_link.h"
#include "mcu/hex_reader.h"

// The microcontroller load: where the application lives, how it is erased, and what a
// failed load reports to the caller.
namespace ostrel {

inline constexpr std::uint32_t mcu_application_start = 0x404000;
inline constexpr std::size_t mcu_application_size = 0x7C000;
static_assert(hex_largest_file(mcu_application_size) < hex_file_limit,
              "every HEX file of the application area must get past the reader's size check");
// Sizes of the application area's erase sectors, in address order.
inline constexpr std::array<std::uint32_t, 4> mcu_sector_table{0x1C000, 0x20000, 0x20000, 0x20000};
// Step of the partial erase inside the sector where the image ends.
inline constexpr std::uint32_t mcu_erase_step = 0x4000;
inline constexpr std::uint8_t mcu_pad_byte = 0xFF;

// One 'e' request of an erase plan.
struct mcu_erase_request {
    std::uint8_t mode;  // erase_mode_tail, erase_mode_16k or erase_mode_sector
    std::uint32_t address;

    bool operator==(const mcu_erase_request&) const = default;
};

// The erase requests for an image of `size` bytes at the application start, in order:
// whole sectors the image runs past, then 16 KiB steps through the sector where it ends
// and a tail erase for its last 1 to 16 KiB. Empty for an empty image.
std::vector<mcu_erase_request> plan_mcu_erase(std::size_t size);

enum class mcu_load_failure : std::uint8_t {
    none = 0,
    hex_file,            // the HEX file could not be read; `hex` says why
    wrong_base_address,  // the image does not start at the application start
    image_too_large,     // the image is longer than the application area
    no_bootloader,       // the bootloader handle is not open
    erase_failed,        // an erase failed and so did the fallback erase
    page_refused,        // a page was not accepted
};

// What became of a load, for the caller's messages.
struct mcu_load_report {
    mcu_load_failure failure = mcu_load_failure::none;
    hex_read_error hex;
    std::uint32_t base_address = 0;
    std::size_t image_size = 0;
    std::size_t bytes_written = 0;  // of the image, in whole pages the bootloader took
    bool fallback_erase = false;    // the fallback erase was sent
};

// Reads the HEX file at `path` and checks that its image starts at the application start
// and fits the application area. Nothing when it does not, `report` saying why. Touches no
// device: a file is known good before anything is sent.
std::optional<hex_image> read_mcu_image(const std::string& path, mcu_load_report& report);

// Loads an image checked by read_mcu_image through the bootloader: erases what it covers
// (falling back to the erase of the whole area when an erase fails or the image is empty),
// then writes it in 512-byte pages, the last padded with 0xFF, calling `progress` after
// each page with the offset of that page over the image's size. `report` tells how far it
// got and, when it fails, why.
bool mcu_flash_update(device_link& link, const hex_image& image, const progress_callback& progress,
                      mcu_load_report& report);

}  // namespace ostrel
