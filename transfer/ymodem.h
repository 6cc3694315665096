#pragma once
// Ymodem: one file sent by the YMODEM batch protocol (CRC-16, 1,024-byte data blocks, one file
// per batch), either over the device stream's receive buffer or over a serial port.
//
// The caller creates a fresh record per transfer, sets the link's read time-out, has already
// received the receiver's first 'C', and calls sendPackets; a progress poller on another thread
// may read the fields meanwhile. On every return `finished` is true.
//
//   header block -> ACK -> wait for 'C' -> data blocks 1, 2, ... (each until ACK)
//   -> EOT until ACK -> end-of-batch block (sent again whenever the receiver asks with 'C')
//
// Limits that keep every transfer finite:
//   - one reply budget of 200 bytes other than ACK, NAK, 'C' and CAN for the whole transfer,
//     EOT replies included; reaching it fails the transfer (after EOT: see below);
//   - at most 10 resends of one block after NAK or 'C'; the 11th request fails the transfer;
//   - after the header's ACK at most 200 bytes other than 'C'; a CAN there is a cancel;
//   - the link's read time-out for every single reply;
//   - after the end-of-batch block, 3 s in which a 'C' is answered with the same block again
//     (at most 3 times), since a receiver that flushes its input after ACKing the EOT throws
//     the first copy away; an ACK, any other byte or silence ends that phase (received bytes
//     are dropped just before the block goes out, so a 'C' that came with the EOT's ACK does
//     not count);
//   - the serial variant tries an I/O operation that may be repeated at most 3 times, 50 ms
//     apart; other I/O errors end it with false and no cancel sequence.
// Refused before anything is sent (cancel sequence, false): a file name that is empty or over
// 117 bytes, a payload over 65,535 data blocks, a packed file whose content cannot be unpacked
// (corrupt, no digest, digest mismatch, over the unpack limit).
//
// Results: true when the file went through and the end of batch was signalled, or when
// `finished` was set from outside without a failure (the transfer stops with the cancel
// sequence before the next block). false on every failure, after the cancel sequence unless
// the serial port itself failed. When the EOT phase spends the rest of the budget without an
// ACK, the receive-buffer variant still sends the end of batch and returns true; the serial
// variant cancels and returns false, since the receiver never confirmed the end of the file.
//
// An empty payload is announced like any other file (header with size 0, then EOT), so the
// receiver creates the empty file instead of seeing an end of batch only.
//
// Errors of the receive buffer other than its time-out reach the caller. A file that cannot
// be read, or that ends before its announced length, fails the transfer with the cancel
// sequence.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_stream.h"
#include "transfer/ymodem_blocks.h"
#include "transport/fifo_stream.h"
#include "transport/serial_port.h"

namespace transfer {

using transport::SerialPort;
using transport::SerialPortException;

inline constexpr int32_t kYmodemReplyBudget = 200;
inline constexpr int32_t kYmodemMaxResends = 10;
inline constexpr int32_t kYmodemMaxSkippedBeforeC = 200;
inline constexpr int32_t kYmodemMaxDataBlocks = 65535;
inline constexpr uint32_t kYmodemBatchEndWindowMs = 3000;
inline constexpr int32_t kYmodemMaxBatchEndResends = 3;
inline constexpr int32_t kYmodemSerialIoAttempts = 3;
inline constexpr uint32_t kYmodemSerialRetryPauseMs = 50;
inline constexpr int32_t kYmodemCancelCount = 5;

class Ymodem {
public:
    Ymodem() = default;
    Ymodem(const Ymodem&) = delete;
    Ymodem& operator=(const Ymodem&) = delete;

    // Bytes to send: the length of the stream being sent. -1 until the transfer starts.
    std::atomic<int32_t> fileSize{-1};
    // NAK replies plus bytes other than 'C' after the header's ACK. Informational.
    std::atomic<int32_t> errorCount{0};
    // Bytes not yet acknowledged. -1 until the transfer starts.
    std::atomic<int32_t> bytesLeft{-1};
    // Number of the next block; 0 is the header block.
    std::atomic<int16_t> packetNum{0};
    // The receiver answered with CAN: it refused the file (the result is false then).
    std::atomic<bool> receiverCancelled{false};
    // The transfer is over. Set on every return; setting it from outside stops the transfer
    // before its next block. Never goes back to false.
    std::atomic<bool> finished{false};

    // Sends `file` from its position over the receive buffer. With `unpack` the stream from
    // there is the gzip stream of a packed file: it is verified by a first pass over it, then
    // unpacked again while sending (bounded memory), and the payload is sent under the packed
    // file's name. A file that changes between the passes fails the transfer.
    bool sendPackets(platform::FileStream& file, FIFOStream& link, bool unpack);
    // The same over a serial port.
    bool sendPackets(platform::FileStream& file, SerialPort& port, bool unpack);

    // Sends `length` bytes of `source` under `fileName` (the bytes for the header block).
    bool sendStream(platform::ByteStream& source, int64_t length, const std::string& fileName,
                    FIFOStream& link);
    bool sendStream(platform::ByteStream& source, int64_t length, const std::string& fileName,
                    SerialPort& port);

    // CRC-16/XMODEM of `count` bytes, 0 to 65,535.
    static int32_t calcrc(const uint8_t* ptr, int32_t count) { return YmodemCrc16(ptr, count); }

    // Unpacks the gzip stream at the file's position through the shared packed-file reader
    // and returns the verified payload at position 0, closing the file. Nothing when the
    // content holds no digest, the digest does not match, or the content is over the unpack
    // limit. Corrupt gzip data raises platform::InvalidDataError, a read failure
    // platform::StreamError.
    std::unique_ptr<platform::MemoryStream> DecompressGZipFile(platform::FileStream& file);

    // Five one-byte writes of CAN.
    static void CancelTransmittion(FIFOStream& link);
    // The same to the port; an I/O error ends the sequence silently.
    static void CancelTransmittion(SerialPort& port);
};

// The bytes the header block carries as the name of the file at `path`: its last component,
// in the ANSI code page.
std::string YmodemFileName(const std::string& path);

}  // namespace transfer
