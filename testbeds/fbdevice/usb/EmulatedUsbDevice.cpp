#include "EmulatedUsbDevice.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

namespace {

usbdevfs_urb* urbOf(UMockdevIoctlData* data)
{
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

} // namespace

EmulatedUsbDevice::EmulatedUsbDevice(std::shared_ptr<PacketDevice> model)
    : m_handler(umockdev_ioctl_base_new())
    , m_model(std::move(model))
{
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&EmulatedUsbDevice::onIoctl), this);
    g_signal_connect(m_handler, "client-vanished", G_CALLBACK(&EmulatedUsbDevice::onVanished), this);
}

EmulatedUsbDevice::~EmulatedUsbDevice()
{
    g_signal_handlers_disconnect_by_data(m_handler, this);
    g_object_unref(m_handler);
    std::lock_guard lock(m_mutex);
    for (UMockdevIoctlData* urb : m_waitingIn)
        g_object_unref(urb);
    for (UMockdevIoctlData* urb : m_waitingOut)
        g_object_unref(urb);
    for (UMockdevIoctlData* urb : m_done)
        g_object_unref(urb);
}

void EmulatedUsbDevice::setInterfaceBusy(bool busy)
{
    std::lock_guard lock(m_mutex);
    m_busy = busy;
}

void EmulatedUsbDevice::unplug()
{
    std::lock_guard lock(m_mutex);
    m_gone = true;
    // Whatever was in flight ends as the kernel ends it for a vanished device.
    while (!m_waitingIn.empty()) {
        urbOf(m_waitingIn.front())->status = -ESHUTDOWN;
        m_done.push_back(m_waitingIn.front());
        m_waitingIn.pop_front();
    }
    while (!m_waitingOut.empty()) {
        urbOf(m_waitingOut.front())->status = -ESHUTDOWN;
        m_done.push_back(m_waitingOut.front());
        m_waitingOut.pop_front();
    }
}

bool EmulatedUsbDevice::leaving()
{
    std::lock_guard lock(m_mutex);
    return m_model->leaving();
}

void EmulatedUsbDevice::setOnLeave(std::function<void()> onLeave)
{
    std::lock_guard lock(m_mutex);
    m_onLeave = std::move(onLeave);
}

long long EmulatedUsbDevice::bytesReceived()
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

int EmulatedUsbDevice::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedUsbDevice* self)
{
    return self->handle(client) ? TRUE : FALSE;
}

void EmulatedUsbDevice::onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedUsbDevice* self)
{
    std::lock_guard lock(self->m_mutex);
    if (self->m_owner == client) {
        self->m_owner = nullptr;
        if (!self->m_gone)
            self->m_model->closed();
    }
}

bool EmulatedUsbDevice::handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* arg = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                             sizeof(uint32_t), nullptr);
        // Scatter-gather: libusb sends each transfer as one URB.
        const uint32_t caps = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION
            | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        std::memcpy(arg->data, &caps, sizeof caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(arg);
        return true;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        std::lock_guard lock(m_mutex);
        if (m_gone)
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        else if (m_busy || (m_owner && m_owner != client))
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        else {
            if (!m_owner)
                m_model->opened();
            m_owner = client;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return true;
    }
    case USBDEVFS_RELEASEINTERFACE: {
        std::lock_guard lock(m_mutex);
        if (m_owner == client) {
            m_owner = nullptr;
            if (!m_gone)
                m_model->closed();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
        umockdev_ioctl_client_complete(client, -1, ENODATA); // no kernel driver bound
        return true;
    case USBDEVFS_SUBMITURB:
        submit(client);
        return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(client);
        return true;
    case USBDEVFS_DISCARDURB:
        discard(client);
        return true;
    default:
        return false;
    }
}

void EmulatedUsbDevice::submit(UMockdevIoctlClient* client)
{
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                             sizeof(usbdevfs_urb), nullptr);
    usbdevfs_urb* urb = urbOf(urbData);
    UMockdevIoctlData* buffer = nullptr;
    if (urb->buffer_length > 0)
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length, nullptr);

    std::unique_lock lock(m_mutex);
    if (m_gone || urb->type != USBDEVFS_URB_TYPE_BULK) {
        umockdev_ioctl_client_complete(client, -1, m_gone ? ENODEV : EINVAL);
        if (buffer)
            g_object_unref(buffer);
        g_object_unref(urbData);
        return;
    }
    if (!(urb->endpoint & 0x80) && m_urbLimit > 0 && urb->buffer_length > m_urbLimit) {
        umockdev_ioctl_client_complete(client, -1, ENOMEM);
        if (buffer)
            g_object_unref(buffer);
        g_object_unref(urbData);
        return;
    }
    urb->status = 0;
    urb->actual_length = 0;
    if (urb->endpoint & 0x80) {
        m_waitingIn.push_back(urbData);
    } else if (m_model->stalled()) {
        m_waitingOut.push_back(urbData);
    } else {
        const char* bytes = buffer ? reinterpret_cast<const char*>(buffer->data) : "";
        m_model->receive(std::string_view(bytes, static_cast<size_t>(urb->buffer_length)));
        m_largestUrb = std::max(m_largestUrb, urb->buffer_length);
        if (m_model->stalled()) {
            m_waitingOut.push_back(urbData);
        } else if (!m_model->tookLast()) {
            urb->status = -ESHUTDOWN;
            m_done.push_back(urbData);
        } else {
            m_received += urb->buffer_length;
            urb->actual_length = urb->buffer_length;
            m_done.push_back(urbData);
        }
    }
    if (buffer)
        g_object_unref(buffer);
    const bool left = pump();
    const std::function<void()> onLeave = left ? m_onLeave : nullptr;
    lock.unlock();
    umockdev_ioctl_client_complete(client, 0, 0);
    // Outside the lock: the testbed takes its own lock to pull the device.
    if (onLeave)
        onLeave();
}

bool EmulatedUsbDevice::pump()
{
    while (!m_waitingIn.empty()) {
        const auto reply = m_model->nextReply();
        if (!reply)
            break;
        UMockdevIoctlData* urbData = m_waitingIn.front();
        m_waitingIn.pop_front();
        usbdevfs_urb* urb = urbOf(urbData);
        const size_t room = static_cast<size_t>(std::max(urb->buffer_length, 0));
        const size_t n = std::min(room, reply->size());
        if (n > 0)
            std::memcpy(urb->buffer, reply->data(), n); // the resolved local copy
        urb->actual_length = static_cast<int>(n);
        urb->status = reply->size() > room ? -EOVERFLOW : 0;
        m_done.push_back(urbData);
    }
    if (!m_gone && m_model->leaving()) {
        // Its last answer is on its way; the device itself is gone.
        m_gone = true;
        return true;
    }
    return false;
}

void EmulatedUsbDevice::setUrbLimit(int bytes)
{
    std::lock_guard lock(m_mutex);
    m_urbLimit = bytes;
}

int EmulatedUsbDevice::largestUrb()
{
    std::lock_guard lock(m_mutex);
    return m_largestUrb;
}

void EmulatedUsbDevice::reap(UMockdevIoctlClient* client)
{
    std::lock_guard lock(m_mutex);
    if (m_done.empty()) {
        umockdev_ioctl_client_complete(client, -1, m_gone ? ENODEV : EAGAIN);
        return;
    }
    UMockdevIoctlData* urbData = m_done.front();
    m_done.pop_front();
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(slot, 0, urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    g_object_unref(urbData);
}

void EmulatedUsbDevice::discard(UMockdevIoctlClient* client)
{
    // The argument is the URB's address in the client.
    const gulong address = reinterpret_cast<gulong>(
        *reinterpret_cast<void**>(umockdev_ioctl_client_get_arg(client)->data));
    std::lock_guard lock(m_mutex);
    for (std::deque<UMockdevIoctlData*>* waiting : {&m_waitingIn, &m_waitingOut}) {
        const auto it = std::find_if(waiting->begin(), waiting->end(),
                                     [&](UMockdevIoctlData* urb) { return urb->client_addr == address; });
        if (it != waiting->end()) {
            urbOf(*it)->status = -ENOENT;
            m_done.push_back(*it);
            waiting->erase(it);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}
