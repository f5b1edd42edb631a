#include "device/presence.h"

namespace ostrel {

const char* open_blocker_hint() {
    return "check the access rights to its hidraw device (udev rule 70-ostrel.rules, see "
           "ostrel_firmware_update(1))";
}

}  // namespace ostrel
