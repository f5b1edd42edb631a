#include "sim/uhid/hidraw_node.h"

#include <dirent.h>

#include <cstdio>
#include <fstream>

namespace sim::uhid {

std::string find_hidraw_node(std::uint16_t vendor, std::uint16_t product,
                             const std::string& serial) {
    char wanted[40];
    std::snprintf(wanted, sizeof wanted, "HID_ID=0003:%08X:%08X", vendor, product);
    DIR* nodes = opendir("/sys/class/hidraw");
    if (nodes == nullptr) {
        return {};
    }
    std::string found;
    while (const dirent* entry = readdir(nodes)) {
        const std::string name = entry->d_name;
        if (name.rfind("hidraw", 0) != 0) {
            continue;
        }
        std::ifstream uevent("/sys/class/hidraw/" + name + "/device/uevent");
        int matched = 0;  // the ids and the serial number: two lines of the uevent
        for (std::string line; std::getline(uevent, line);) {
            matched += (line == wanted || line == "HID_UNIQ=" + serial) ? 1 : 0;
        }
        if (matched == 2) {
            found = "/dev/" + name;
        }
    }
    closedir(nodes);
    return found;
}

}  // namespace sim::uhid
