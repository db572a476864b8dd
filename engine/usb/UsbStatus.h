#pragma once

#include "IoStatus.h"

#include <string>

namespace usb {

// What a failed libusb transfer call means to a link: rc is libusb's error
// code; *error gets the text for messages.
engine::IoStatus transferStatus(int rc, std::string* error);

} // namespace usb
