// stand_in_client ROUNDS: under `ostrel_sim run`, opens the virtual device, sends it a
// request, reads what has arrived and closes it, ROUNDS times (0: until killed). Exits 0
// when every open and every send was taken. Several at once drive the stand-in from
// several processes, as two programs started on one device do.
#include <hidapi.h>

#include <array>
#include <cstdlib>

#include "sim/model.h"

int main(int argc, char** argv) {
    const unsigned long rounds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    const std::array<unsigned char, 65> request{0, 'T'};
    std::array<unsigned char, 65> reply{};
    for (unsigned long i = 0; rounds == 0 || i < rounds; ++i) {
        hid_device* device = hid_open(OSTREL_VENDOR_ID, sim::app_product_id, nullptr);
        if (device == nullptr ||
            hid_send_feature_report(device, request.data(), request.size()) != 65) {
            return 1;
        }
        hid_read_timeout(device, reply.data(), reply.size(), 0);
        hid_close(device);
    }
    return 0;
}
