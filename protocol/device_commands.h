#pragma once
// The device command set: one-shot queries (version text, SPI-NOR id, boot memory), the
// acknowledged senders (boot memory write, firmware-update mode), the reset, the
// acknowledgement wait, and two loops that read a whole byte stream into an array.
//
// Shape: `WaitForAck` is a free function (every writer of flash calls it with its own buffer).
// The other operations live in `DeviceCommands`, which holds references to the window fields
// they read or write (`patchStatus`, `bootMemory`, `kroType`). The receive buffer is passed to
// each call, because it changes with every connection: the window passes `refDevData.stream`
// or `SendPort` as its command table says, and a null buffer makes every operation fail
// quietly. `Main` owns one `DeviceCommands` and delegates each member to it:
//
//     bool Main::CheckUsbVersion() { return commands.CheckUsbVersion(refDevData.stream.get()); }
//
// Waits block on the buffer (FIFOStream::WaitForData) in slices of at most 20 ms instead of
// spinning, and end at once when the buffer's source failed; every `Read` in between may
// request a refill from a polled link. All operations run on the calling thread and return
// within their deadline. None of them throws, except that the stream readers pass on the
// source's own errors.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "platform/byte_stream.h"
#include "protocol/byte_wait.h"
#include "protocol/fur_codec.h"
#include "transport/fifo_stream.h"

// Results of WaitForAck.
inline constexpr int32_t kAckTimeout = 0;
inline constexpr int32_t kAckRefused = 1;
inline constexpr int32_t kAckAccepted = 2;

// Margin WaitForAck adds to its deadline.
inline constexpr uint32_t kAckGraceMs = 50;
// Size of WaitForAck's work array; a longer frame can never complete there.
inline constexpr std::size_t kAckWorkSize = 4096;
// How long a one-shot query waits for its reply.
inline constexpr uint32_t kQueryTimeoutMs = 2000;
// Largest single read of a one-shot query.
inline constexpr std::size_t kQueryReadSize = 128;
// Bytes a query keeps across reads, so a reply cut between two reads is still recognised.
inline constexpr std::size_t kQueryCarrySize = 4 * kQueryReadSize;
// Time given to the acknowledged senders (WaitForAck adds its margin).
inline constexpr uint32_t kSenderTimeoutMs = 3000;

inline constexpr std::size_t kBootMemoryLength = 64;

// ReadBytesFromStream: largest request, the chunk it fills at most, and the header it skips.
inline constexpr int32_t kStreamPieceSize = 1024;
inline constexpr int32_t kStreamChunkLimit = 1048576;
inline constexpr int32_t kStreamHeaderSize = 16;
// ReadAllBytesFromStream: size of each request.
inline constexpr int32_t kReadAllPieceSize = 100;

// Waits for the device's answer to a command already sent, reading `buffer` until the tick
// count reaches `deadline` + 50 (deadline is an absolute tick value: now + time-out).
// Returns 2 for an ACK_ACK answering F4 05, F4 06, F4 09, 06 50, 06 09, 06 0A or 06 00; 1 for
// an ACK_NAK answering F4 05; 0 at the deadline, when the deadline has already passed (nothing
// is read then), when `buffer` is null, or at once when the buffer's source failed (the link
// is gone) and what it delivered holds no answer. Every other frame is dropped and the wait goes
// on. `command` names the command being answered and does not change the result.
int32_t WaitForAck(FIFOStream* buffer, int32_t deadline, uint32_t command);

// True when an ACK_ACK answering class/id ends a wait with success.
bool IsPositiveAckPair(uint8_t ackClass, uint8_t ackId);

// What usbIntoBootOne and usbIntoBootTwo need of the window's connection handling.
struct ConnectionHooks {
    std::function<bool()> connect;        // ConnectRefDev: true when a connection is open
    std::function<FIFOStream*()> stream;  // the open connection's buffer (refDevData.stream)
    std::function<bool()> disconnect;     // DisconnectRevDev
};

class DeviceCommands {
public:
    // The referenced fields belong to the window and must outlive this object.
    DeviceCommands(bool& patchStatus, std::span<uint8_t, kBootMemoryLength> bootMemory,
                   const int32_t& kroType);

    // The one-shot queries drop what waits in the buffer, send their request and wait up to
    // 2,000 ms; the first valid reply of the expected kind decides at once, pass or fail.

    // VERSION_POLL; true when the VERSION_DATA reply's text holds "BOOT" or "boot" (boot stage).
    bool CheckUsbVersion(FIFOStream* stream);
    // VERSION_POLL; true when the VERSION_DATA reply's text holds "E3" (patch program running).
    // Sets patchStatus true then, false otherwise.
    bool CheckPatchVersion(FIFOStream* stream);
    // BOOT2_SPINORID_POLL; true when the reply's id bytes 0 and 1 are both other than 0xFF.
    bool CheckSpinorId(FIFOStream* stream);
    // BOOTMEM_DATA request; true when the reply carries exactly 64 bytes, copied to bootMemory.
    bool bootMemoryRead(FIFOStream* stream);
    // BOOT2_FWPG at address 0, index 1, carrying bootMemory; true when acknowledged.
    bool bootMemoryWrite(FIFOStream* stream);
    // The CFG_FWUP frame with param 16 plus one 0x00 byte (10 bytes); true when acknowledged.
    bool FwUpCmd(FIFOStream* stream);
    // CFG_SIMPLERST with resetType 0; no answer is awaited.
    void SendResetCmd(FIFOStream* stream);

    // Connects, asks CheckUsbVersion, disconnects. False when the connection fails or the
    // device reported its boot stage; true otherwise.
    bool usbIntoBootOne(const ConnectionHooks& hooks);
    // Connects and, when that works, writes the boot memory (result unused) and disconnects.
    void usbIntoBootTwo(const ConnectionHooks& hooks);

    // Reads pieces of at most 1,024 bytes into `target` from offset 0 until a read returns 0
    // or 1,048,576 bytes or more are stored; returns the count. With `skipHeader` and kroType
    // other than 2 the first 16 bytes of the source are skipped first (0 when the source has
    // fewer). Requests never pass the end of `target`: a full target ends the loop. Sleeps
    // 10 ms first. Source errors propagate.
    int32_t ReadBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target,
                                bool skipHeader);

private:
    bool& patchStatus_;
    std::span<uint8_t, kBootMemoryLength> bootMemory_;
    const int32_t& kroType_;
};

// Reads `source` to its end in requests of 100 bytes into `target` from offset 0 and returns
// the count. Every request, the last one (which returns 0) included, must fit: content of n
// bytes needs a target of n + 100 bytes; a request that does not fit throws
// platform::StreamError and nothing past the target is touched.
int32_t ReadAllBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target);
