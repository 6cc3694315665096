#include "transport/serial_link.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/tick.h"
#include "transport/link_fd.h"

using transport::LinkFd;

namespace transport {

// One open port: the descriptor and the control-line configuration set through it. Opening a
// terminal raises DTR and RTS, so both start enabled until configured otherwise.
struct ComDevice {
    LinkFd link;
    std::atomic<bool> dtrControl{true};
    std::atomic<bool> rtsControl{true};
};

}  // namespace transport

namespace {

// Sets or clears one modem line. Ptys have no modem lines (ENOTTY, EINVAL): nothing to do.
void SetModemLine(int fd, int line, bool on) {
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

std::optional<speed_t> ComSpeedConstant(int32_t speed) {
    switch (speed) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 2500000:
            return B2500000;
        case 3000000:
            return B3000000;
        case 3500000:
            return B3500000;
        case 4000000:
            return B4000000;
        default:
            return std::nullopt;
    }
}

std::string ComDevicePath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return name;
    return "/dev/" + name;
}

ComHandle CCom_Interface::ComConnect(const std::string& name, int32_t speed) {
    ComHandle handle;
    auto port = std::make_shared<transport::ComDevice>();
    if (!port->link.OpenExclusive(ComDevicePath(name))) return handle;
    handle.port_ = std::move(port);
    ComSetUart(handle, speed, 8, 0, 1);  // a refused configuration does not fail the open
    return handle;
}

bool CCom_Interface::ComSetUart(ComHandle handle, int32_t speed, int32_t dataBits, int32_t parity,
                                int32_t stopBits) {
    if (!handle) return false;
    const auto baud = ComSpeedConstant(speed);
    if (!baud) return false;
    tcflag_t size;
    switch (dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }
    if (parity < 0 || parity > 2) return false;
    if (stopBits == 0) stopBits = 1;
    if (stopBits != 1 && stopBits != 2) return false;

    LinkFd::Use use(handle.port_->link);
    if (!use) return false;
    termios tio{};
    if (::tcgetattr(use.fd(), &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= size | CLOCAL | CREAD;
    if (parity != 0) tio.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
    if (stopBits == 2) tio.c_cflag |= CSTOPB;
    // Reads return at once with whatever is queued.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *baud) != 0 || ::cfsetospeed(&tio, *baud) != 0) return false;
    if (::tcsetattr(use.fd(), TCSANOW, &tio) != 0) return false;

    SetModemLine(use.fd(), TIOCM_RTS, false);
    handle.port_->rtsControl = false;
    ::tcflush(use.fd(), TCIOFLUSH);
    return true;
}

bool CCom_Interface::ComRead(ComHandle handle, uint8_t* buffer, int32_t length,
                             int32_t& bytesRead) {
    bytesRead = 0;
    if (!handle) return false;
    LinkFd::Use use(handle.port_->link);
    if (!use) return false;
    if (length <= 0 || buffer == nullptr) return true;
    ssize_t n;
    do {
        n = ::read(use.fd(), buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        bytesRead = static_cast<int32_t>(n);
        return true;
    }
    if (n < 0 && errno != EAGAIN) return false;  // EIO: the other side is gone
    // Nothing queued. A hung-up terminal also reads 0 bytes, so ask poll() which it is.
    return !handle.port_->link.HungUp();
}

bool CCom_Interface::ComWrite(ComHandle handle, const uint8_t* buffer, int32_t length,
                              int32_t& bytesWritten) {
    bytesWritten = 0;
    if (!handle) return false;
    LinkFd::Use use(handle.port_->link);
    if (!use) return false;
    LinkFd& link = handle.port_->link;
    // Anything received and not yet read is dropped: only the answer to this write counts.
    // Only the input: the tail of the previous write may still wait in the kernel (a long
    // write sent in pieces, the cancel bytes sent one by one).
    if (link.IsTerminal()) ::tcflush(use.fd(), TCIFLUSH);
    if (length <= 0 || buffer == nullptr) return true;

    const uint32_t deadline = platform::TickCount() + static_cast<uint32_t>(length) + 1u;
    const size_t total = static_cast<size_t>(length);
    size_t done = 0;
    while (done < total) {
        ssize_t n = ::write(use.fd(), buffer + done, total - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        const uint32_t left = platform::TickRemaining(platform::TickCount(), deadline);
        if (left == 0) break;
        LinkFd::Ready r = link.Wait(POLLOUT, static_cast<int>(left), -1);
        if (r != LinkFd::Ready::Ready && r != LinkFd::Ready::Timeout) break;
    }
    bytesWritten = static_cast<int32_t>(done);
    return done == total;
}

void CCom_Interface::PortClose(ComHandle handle) {
    if (handle) handle.port_->link.Close();
}

test_info& CCom_Interface::ComTestGet(test_info& record, ComHandle handle) {
    record = test_info{};
    if (!handle) return record;
    LinkFd::Use use(handle.port_->link);
    if (!use) return record;
    termios tio{};
    if (::tcgetattr(use.fd(), &tio) != 0) return record;
    record.DtrControl = handle.port_->dtrControl;
    record.DsrFlow = false;  // termios has no DSR flow control
    record.RtsControl = handle.port_->rtsControl;
    record.CtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    return record;
}

void CCom_Interface::ComTestSet(ComHandle handle, bool dtrOn, bool rtsOn) {
    if (!handle) return;
    LinkFd::Use use(handle.port_->link);
    if (!use) return;
    SetModemLine(use.fd(), TIOCM_DTR, dtrOn);
    SetModemLine(use.fd(), TIOCM_RTS, rtsOn);
    handle.port_->dtrControl = dtrOn;
    handle.port_->rtsControl = rtsOn;
}
