#pragma once

#include <vector>

#include "sim/model.h"

// Every request the program tried to send, delivered or not: the chaos tests link with
// hid_write and hid_send_feature_report wrapped, so that a request sent to a device that
// has gone counts for the time the program may then wait. The mode is the one the channel
// serves (feature reports: application, output reports: bootloader).
namespace chaos_test {

std::vector<sim::request_record>& sent_requests();

}  // namespace chaos_test
