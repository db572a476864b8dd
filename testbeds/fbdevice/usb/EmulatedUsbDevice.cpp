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

usbdevfs_bulktransfer* bulkOf(UMockdevIoctlData* data)
{
    return reinterpret_cast<usbdevfs_bulktransfer*>(data->data);
}

// What a bulk wait's timer carries: the device and which wait it ends.
struct WaitTimer {
    EmulatedUsbDevice* device;
    uint64_t id;
};

} // namespace

EmulatedUsbDevice::EmulatedUsbDevice(std::shared_ptr<PacketDevice> model)
    : m_handler(umockdev_ioctl_base_new())
    , m_model(std::move(model))
{
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(&EmulatedUsbDevice::onIoctl), this);
    g_signal_connect(m_handler, "client-vanished", G_CALLBACK(&EmulatedUsbDevice::onVanished), this);
    g_signal_connect(m_handler, "handle-read", G_CALLBACK(&EmulatedUsbDevice::onRead), this);
}

EmulatedUsbDevice::~EmulatedUsbDevice()
{
    g_signal_handlers_disconnect_by_data(m_handler, this);
    g_object_unref(m_handler);
    std::lock_guard lock(m_mutex);
    for (BulkWait& wait : m_bulkWaits)
        release(wait);
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
    while (!m_bulkWaits.empty()) {
        endWaitLocked(m_bulkWaits.front(), -1, ENODEV);
        m_bulkWaits.pop_front();
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
    self->m_readAt.erase(client);
    // A host that went away mid-ioctl gets no answer any more.
    for (auto it = self->m_bulkWaits.begin(); it != self->m_bulkWaits.end();) {
        if (it->client != client) {
            ++it;
            continue;
        }
        release(*it);
        it = self->m_bulkWaits.erase(it);
    }
    if (self->m_owner == client) {
        self->m_outTransfer.clear();
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
    case USBDEVFS_BULK:
        bulk(client);
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
    for (auto it = m_bulkWaits.begin(); it != m_bulkWaits.end();) {
        if (!it->in) {
            ++it;
            continue;
        }
        const auto reply = m_model->nextReply();
        if (!reply)
            break;
        const size_t room = bulkOf(it->transfer)->len;
        const size_t n = std::min(room, reply->size());
        if (n > 0)
            std::memcpy(it->buffer->data, reply->data(), n);
        if (reply->size() > room)
            endWaitLocked(*it, -1, EOVERFLOW);
        else
            endWaitLocked(*it, static_cast<long>(n), 0);
        it = m_bulkWaits.erase(it);
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

void EmulatedUsbDevice::setDescriptors(const std::string& descriptors)
{
    std::lock_guard lock(m_mutex);
    m_descriptors = descriptors;
    // The first bulk OUT endpoint's wMaxPacketSize decides where a
    // synchronous OUT transfer may end.
    for (size_t at = 0; at + 2 <= descriptors.size() && descriptors[at] > 0; at += uint8_t(descriptors[at])) {
        const auto* d = reinterpret_cast<const uint8_t*>(descriptors.data() + at);
        if (d[1] == 5 && d[0] >= 7 && at + 7 <= descriptors.size() && !(d[2] & 0x80) && (d[3] & 3) == 2) {
            m_outPacket = d[4] | (d[5] << 8);
            break;
        }
    }
}

int EmulatedUsbDevice::onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, EmulatedUsbDevice* self)
{
    // As usbfs: reading the node gives the descriptors, from the file position on.
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(self->m_mutex);
    size_t& at = self->m_readAt[client];
    const size_t n = std::min(static_cast<size_t>(std::max(buffer->data_len, 0)),
                              self->m_descriptors.size() - std::min(at, self->m_descriptors.size()));
    if (n > 0)
        std::memcpy(buffer->data, self->m_descriptors.data() + at, n);
    at += n;
    umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
    return TRUE;
}

void EmulatedUsbDevice::bulk(UMockdevIoctlClient* client)
{
    UMockdevIoctlData* transfer = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                              sizeof(usbdevfs_bulktransfer), nullptr);
    const usbdevfs_bulktransfer* bulk = bulkOf(transfer);
    UMockdevIoctlData* buffer = nullptr;
    if (bulk->len > 0)
        buffer = umockdev_ioctl_data_resolve(transfer, offsetof(usbdevfs_bulktransfer, data), bulk->len, nullptr);
    std::unique_lock lock(m_mutex);
    if (m_gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        if (buffer)
            g_object_unref(buffer);
        g_object_unref(transfer);
        return;
    }
    if (bulk->ep & 0x80)
        bulkInLocked(client, transfer, buffer);
    else
        bulkOutLocked(client, transfer, buffer);
    leaveIfGone(lock, pump());
}

void EmulatedUsbDevice::bulkOutLocked(UMockdevIoctlClient* client, UMockdevIoctlData* transfer,
                                      UMockdevIoctlData* buffer)
{
    const usbdevfs_bulktransfer* bulk = bulkOf(transfer);
    const unsigned timeout = bulk->timeout;
    const long length = bulk->len;
    if (m_model->stalled()) {
        waitLocked(BulkWait{0, false, client, transfer, buffer, nullptr}, timeout);
        return;
    }
    if (buffer)
        m_outTransfer.append(reinterpret_cast<const char*>(buffer->data), bulk->len);
    // A short packet ends the transfer, as does a zero-length one after
    // whole packets; the device then sees the transfer, and the zero-length
    // packet after it, as it would from a host that submits whole transfers.
    const bool ends = bulk->len == 0 || m_outPacket == 0 || bulk->len % m_outPacket != 0;
    if (ends) {
        std::string whole;
        whole.swap(m_outTransfer);
        if (!whole.empty())
            m_model->receive(whole);
        if (bulk->len == 0 && m_model->tookLast() && !m_model->stalled())
            m_model->receive(std::string_view());
    }
    if (buffer)
        g_object_unref(buffer);
    if (m_model->stalled()) {
        waitLocked(BulkWait{0, false, client, transfer, nullptr, nullptr}, timeout);
        return;
    }
    g_object_unref(transfer);
    if (!m_model->tookLast()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    m_received += length;
    umockdev_ioctl_client_complete(client, length, 0);
}

void EmulatedUsbDevice::bulkInLocked(UMockdevIoctlClient* client, UMockdevIoctlData* transfer,
                                     UMockdevIoctlData* buffer)
{
    if (!buffer) {
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(transfer);
        return;
    }
    // Queued behind earlier readers; pump() serves them in order.
    waitLocked(BulkWait{0, true, client, transfer, buffer, nullptr}, bulkOf(transfer)->timeout);
}

void EmulatedUsbDevice::waitLocked(BulkWait wait, unsigned timeoutMs)
{
    wait.id = m_nextWait++;
    // umockdev lets go of a client once its handler returns; the answer
    // comes later.
    g_object_ref(wait.client);
    if (timeoutMs > 0) {
        // On the worker's own context, which runs this handler.
        wait.timer = g_timeout_source_new(timeoutMs);
        g_source_set_callback(wait.timer, &EmulatedUsbDevice::onBulkTimeout, new WaitTimer{this, wait.id},
                              [](void* timer) { delete static_cast<WaitTimer*>(timer); });
        g_source_attach(wait.timer, g_main_context_get_thread_default());
    }
    m_bulkWaits.push_back(wait);
}

void EmulatedUsbDevice::endWaitLocked(BulkWait& wait, long result, int error)
{
    umockdev_ioctl_client_complete(wait.client, result, error);
    release(wait);
}

void EmulatedUsbDevice::release(BulkWait& wait)
{
    if (wait.timer) {
        g_source_destroy(wait.timer);
        g_source_unref(wait.timer);
        wait.timer = nullptr;
    }
    if (wait.buffer)
        g_object_unref(wait.buffer);
    g_object_unref(wait.transfer);
    g_object_unref(wait.client);
}

int EmulatedUsbDevice::onBulkTimeout(void* timer)
{
    const auto* t = static_cast<WaitTimer*>(timer);
    t->device->bulkTimedOut(t->id);
    return G_SOURCE_REMOVE;
}

void EmulatedUsbDevice::bulkTimedOut(uint64_t id)
{
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_bulkWaits.begin(), m_bulkWaits.end(),
                                 [&](const BulkWait& wait) { return wait.id == id; });
    if (it == m_bulkWaits.end())
        return;
    // The source is ending by itself; only the reference is ours.
    g_source_unref(it->timer);
    it->timer = nullptr;
    endWaitLocked(*it, -1, ETIMEDOUT);
    m_bulkWaits.erase(it);
}

void EmulatedUsbDevice::leaveIfGone(std::unique_lock<std::mutex>& lock, bool left)
{
    const std::function<void()> onLeave = left ? m_onLeave : nullptr;
    lock.unlock();
    // Outside the lock: the testbed takes its own lock to pull the device.
    if (onLeave)
        onLeave();
}
