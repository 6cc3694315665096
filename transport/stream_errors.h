#pragma once
// Errors raised by the receive buffer. Callers catch them by kind; what() carries the fixed
// texts "ReadByte Timeout", "ReadLine Timeout", "An error occured at SerialPort" and
// "Internal buffer overflowed".
#include <stdexcept>

// A read waited longer than the buffer's read time-out.
class TimeoutException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The source that fills the buffer failed.
class IOException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A write did not fit into the ring.
class OverflowException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
