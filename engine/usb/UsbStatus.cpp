#include "UsbStatus.h"

#include <libusb.h>

namespace usb {

engine::IoStatus transferStatus(int rc, std::string* error)
{
    using engine::IoStatus;
    switch (rc) {
    case LIBUSB_ERROR_TIMEOUT:
        *error = "timed out";
        return IoStatus::Timeout;
    case LIBUSB_ERROR_NO_DEVICE:
        *error = "the USB device went away";
        return IoStatus::Closed;
    case LIBUSB_ERROR_OVERFLOW:
        *error = "USB transfer overflow";
        return IoStatus::TooLarge;
    default:
        *error = std::string("USB transfer failed: ") + libusb_strerror(rc);
        return IoStatus::Error;
    }
}

} // namespace usb
