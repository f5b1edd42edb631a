#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <hidapi.h>

#include "device/progress.h"
#include "device/report.h"

namespace ostrel {

struct mcu_load_report;    // mcu/flash_update.h
struct hex_image;          // mcu/hex_reader.h
struct vxr_update_report;  // vxr/update.h

// Which regions of the bridge's flash differ from a Fullrom image.
struct vxr_update_plan {
    bool esm = false;
    bool fw = false;
    bool config = false;
};

// The device object of a run: the two HID handles, one per USB identity of the device.
// Operations report failure by their result only (false, nothing, or 0) and send
// nothing when the handle they need is null. The object owns its handles: it closes them
// when it goes (closing sends nothing to the device), and it can be moved but not copied.
class bootloader_thread {
  public:
    hid_device* bootloader_handle = nullptr;  // product id 0x4004, bootloader running
    hid_device* app_handle = nullptr;         // product id 0x0101, application running
    // Called once when a wait for the device to come back under a product id starts (after
    // a mode switch, or after this run restarted the application). May be empty.
    std::function<void(unsigned short product_id)> on_wait;
    // Set when the last connect or wait gave up because the device did not come back in
    // time after a mode switch; cleared by the next one.
    bool return_timed_out = false;

    bootloader_thread() = default;
    bootloader_thread(const bootloader_thread&) = delete;
    bootloader_thread& operator=(const bootloader_thread&) = delete;
    bootloader_thread(bootloader_thread&& other) noexcept;
    bootloader_thread& operator=(bootloader_thread&& other) noexcept;
    ~bootloader_thread();

    // Mode handling and version queries (device/).
    bool connect_app();
    bool connect_bootloader();
    // Waits for the application to come back after this run restarted it: one attempt at
    // once, then one every 250 ms until more than 15000 ms have passed. Sends nothing.
    bool wait_for_app();
    // After a load: tells the bootloader to start the application (no reply is read) and
    // closes the bootloader handle. Nothing when that handle is null.
    void start_application();
    // The 64 bytes after the reply code of the application's '*' reply.
    std::optional<std::string> read_app_version(hid_report& report_buffer);
    // All 65 bytes of the buffer after the bootloader's '*' reply.
    std::optional<std::string> read_bootloader_version(hid_report& report_buffer);
    // The 64 bytes after the reply code of the application's 'N' reply.
    std::optional<std::string> read_bridge_version(hid_report& report_buffer);

    // Bootloader commands and the microcontroller load (mcu/).
    bool mcu_write_chunk(std::uint32_t address, const byte_vector& data);
    bool mcu_write_page(std::uint32_t address, const byte_vector& data);
    bool mcu_erase_sector(std::uint32_t address);
    bool mcu_erase_16k(std::uint32_t address);
    bool mcu_erase_tail(std::uint32_t address);
    bool mcu_fallback_erase();
    // Loads an image checked by read_mcu_image, telling in `report` how far it got and,
    // when it fails, why.
    bool mcu_flash_update(const hex_image& image, const progress_callback& progress,
                          mcu_load_report& report);

    // Bridge flash operations and the bridge update (vxr/).
    std::uint8_t read_bank_status();
    std::uint32_t read_flash_checksum(std::uint32_t address, std::uint32_t length);
    bool write_flash_chunk(std::uint32_t address, const byte_vector& data);
    bool invalidate_bank(std::uint32_t bank_flag);
    bool erase_flash_sector(std::uint32_t address);
    bool erase_flash_block(std::uint32_t address);
    bool write_flash_region(std::uint32_t start, const byte_vector& data,
                            const progress_callback& progress);
    vxr_update_plan check_vxr_update(const std::string& fullrom_path);
    // Writes the regions that differ; `report` tells how far it got.
    bool vxr_flash_update(const std::string& fullrom_path, const progress_callback& progress,
                          vxr_update_report& report);

  private:
    void announce_wait(unsigned short product_id) const;
};

}  // namespace ostrel
