#pragma once

// Whether a request the program sent is one the device knows, with a sound layout: a
// command of the identity it went to, on that identity's channel (feature reports to the
// application, output reports to the bootloader), its lengths and addresses inside the
// bridge's flash (0x00000 to 0x7FFFF) or the microcontroller's application area (0x404000
// to 0x47FFFF), the checksum ranges the update asks (a bank with or without its trailer, or the esm
// region), the erase confirmation word, the bootloader's alignments and frame CRC, and zeros after
// the fields. Written from the device's side, on the fields as the device decodes them
// (sim/request_decode.h), sharing no code with the program's builders.
#include <cstdint>
#include <span>

namespace ostrel::testing {

// What is wrong with `report` (report number first), sent to the application or the
// bootloader, as a feature report or an output report; nullptr when nothing is.
const char* request_fault(bool to_application, bool feature, std::span<const std::uint8_t> report);

}  // namespace ostrel::testing
