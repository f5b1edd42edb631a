// The words for what is wrong with a HEX file.
#include "mcu/hex_text.h"

#include "base/file_kind.h"
#include "mcu/hex_reader.h"

namespace ostrel {

std::string describe(hex_defect defect) {
    switch (defect) {
        case hex_defect::none:
            return "no defect";
        case hex_defect::cannot_open:
            return "could not open the file";
        case hex_defect::read_error:
            return "read error";
        case hex_defect::no_end_record:
            return "no end-of-file record";
        case hex_defect::line_too_long:
            return "line too long";
        case hex_defect::too_short:
            return "record too short";
        case hex_defect::not_hex:
            return "not a hexadecimal digit";
        case hex_defect::odd_digits:
            return "odd number of hexadecimal digits";
        case hex_defect::checksum_mismatch:
            return "checksum mismatch";
        case hex_defect::count_mismatch:
            return "byte count does not match the data";
        case hex_defect::bad_address_record:
            return "address record without two data bytes";
        case hex_defect::past_address_space:
            return "data past address 0xFFFFFFFF";
        case hex_defect::image_too_large:
            return "image larger than " + std::to_string(hex_image_limit) + " bytes";
        case hex_defect::overlap:
            return "overlaps other data with different bytes";
        case hex_defect::not_record:
            return "not a record: the line does not begin with ':'";
        case hex_defect::file_too_large:
            return "larger than " + std::to_string(hex_file_limit) +
                   " bytes, more than any Intel HEX file of the application area";
        case hex_defect::binary:
            return std::string(binary_not_hex(false));
        case hex_defect::fullrom_like:
            return std::string(binary_not_hex(true));
    }
    return "unknown defect";
}

}  // namespace ostrel
