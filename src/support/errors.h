// Failures of Glyphmill: every error is an exception whose what() is the exact user-facing message.
#pragma once

#include <stdexcept>
#include <string>

namespace glyphmill {

// Base of every error the system raises itself.
class EGlyphmillError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A malformed or unreadable file.
class EReadError : public EGlyphmillError {
public:
  using EGlyphmillError::EGlyphmillError;
};

// A stream operation that could not be completed (short read, failed write, bad seek).
class EStreamError : public EGlyphmillError {
public:
  using EGlyphmillError::EGlyphmillError;
};

// printf-style formatting into a std::string, for messages with "%d" and "%s" in them.
std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace glyphmill
