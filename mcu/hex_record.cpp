#include "mcu/hex_record.h"

#include <algorithm>
#include <cstring>

#include "mcu/hex_text.h"

#if defined(__SSE2__) || defined(_M_X64)
#define OSTREL_HEX_SSE2 1
#include <emmintrin.h>
#endif

namespace ostrel {
namespace {

#if defined(OSTREL_HEX_SSE2)
// Sixteen digits at `digits` into eight bytes at `out`. Returns a mask with a bit set for
// each character that is not a digit, and adds the bytes, except the first `skip`, to the
// eight byte lanes of `sum`.
std::uint32_t decode_block(const char* digits, std::uint8_t* out, std::size_t skip, __m128i& sum) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits));
    // Signed comparisons: bytes from 0x80 up are negative and fall outside both ranges.
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
    const auto valid = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(digit, letter)));
    // Each 16-bit lane holds a pair: the first digit in its low byte.
    const __m128i nibbles = _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)),
                                         _mm_and_si128(letter, _mm_set1_epi8(9)));
    const __m128i values =
        _mm_or_si128(_mm_and_si128(_mm_slli_epi16(nibbles, 4), _mm_set1_epi16(0x00F0)),
                     _mm_srli_epi16(nibbles, 8));
    const __m128i bytes = _mm_packus_epi16(values, values);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    // Bytes add up lane by lane, modulo 256: all the checksum needs.
    alignas(16) static constexpr std::uint8_t keep[16] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const __m128i mask = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(keep + 8 - skip));
    sum = _mm_add_epi8(sum, _mm_and_si128(bytes, mask));
    return valid ^ 0xFFFF;
}
#endif

// `pairs` pairs of digits into bytes at `out`, adding them up into `sum`; false when a
// character is not a digit. Sixteen digits, eight bytes, a round; the last round takes the
// last sixteen digits, overlapping the round before, and adds up only the bytes that round
// did not.
bool decode_pairs(const char* digits, std::size_t pairs, std::uint8_t* out, unsigned& sum) {
#if defined(OSTREL_HEX_SSE2)
    if (pairs >= 8) {
        std::uint32_t bad = 0;
        __m128i total = _mm_setzero_si128();
        for (std::size_t i = 0; i < pairs;) {
            const std::size_t at = std::min(i, pairs - 8);
            bad |= decode_block(digits + 2 * at, out + at, i - at, total);
            i = at + 8;
        }
        sum = static_cast<unsigned>(_mm_cvtsi128_si32(_mm_sad_epu8(total, _mm_setzero_si128())));
        return bad == 0;
    }
#endif
    unsigned bad = 0;
    sum = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t high = hex_digit_table[static_cast<unsigned char>(digits[2 * i])];
        const std::uint8_t low = hex_digit_table[static_cast<unsigned char>(digits[2 * i + 1])];
        bad |= high | low;
        out[i] = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
        sum += out[i];
    }
    return (bad & hex_not_digit) == 0;
}

bool all_digits(const char* digits, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (hex_digit_table[static_cast<unsigned char>(digits[i])] == hex_not_digit) {
            return false;
        }
    }
    return true;
}

}  // namespace

hex_defect decode_record(std::string_view line, hex_record& record) {
    const std::string_view digits = line.substr(1);
    const std::size_t pairs = digits.size() / 2;
    const bool odd = digits.size() % 2 != 0;
    // A line longer than any record is only checked for its characters.
    const bool fits = pairs <= record.raw.size();
    unsigned sum = 0;
    const bool hex = fits ? decode_pairs(digits.data(), pairs, record.raw.data(), sum) &&
                                (!odd || all_digits(&digits.back(), 1))
                          : all_digits(digits.data(), digits.size());
    if (!hex) {
        return hex_defect::not_hex;
    }
    if (pairs < hex_record_fixed_bytes) {
        return hex_defect::too_short;
    }
    if (odd) {
        return hex_defect::odd_digits;
    }
    if (!fits) {
        return hex_defect::count_mismatch;  // more than any byte count can announce
    }
    if ((sum & 0xFFu) != 0) {
        return hex_defect::checksum_mismatch;
    }
    if (record.raw[0] != pairs - hex_record_fixed_bytes) {
        return hex_defect::count_mismatch;
    }
    record.count = record.raw[0];
    record.offset = static_cast<std::uint16_t>(record.raw[1] << 8 | record.raw[2]);
    record.type = record.raw[3];
    return hex_defect::none;
}

}  // namespace ostrel
