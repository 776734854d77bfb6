// Byte sources for the deck reader and sinks for the plot script writer.
// Only the driver binds them to the standard streams; tests, the fuzzer and
// the benchmark run everything in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace peakpos {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Fills up to n bytes; returns how many, 0 at the end of the input.
    virtual std::size_t read(char* buf, std::size_t n) = 0;
};

class Sink {
  public:
    virtual ~Sink() = default;
    virtual void write(std::string_view bytes) = 0;
    // Called after every record, so that a reader on a pipe sees it at once.
    virtual void flush() = 0;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::string_view text) : text_(text) {}
    std::size_t read(char* buf, std::size_t n) override;

  private:
    std::string_view text_;
};

// Reads a file descriptor, retrying after interrupted reads.
class FdSource final : public ByteSource {
  public:
    explicit FdSource(int fd) : fd_(fd) {}
    std::size_t read(char* buf,
                     std::size_t n) override; // throws IoError when the descriptor cannot be read

  private:
    int fd_;
};

class StringSink final : public Sink {
  public:
    void write(std::string_view bytes) override { text += bytes; }
    void flush() override { ++flushes; }
    std::string text;
    std::size_t flushes = 0;
};

// Collects a record and hands it to the descriptor in one write on flush.
// what names the output in the error ("cannot write the plot script: ...").
class FdSink final : public Sink {
  public:
    explicit FdSink(int fd, const char* what = "the plot script") : fd_(fd), what_(what) {}
    void write(std::string_view bytes) override { pending_ += bytes; }
    void flush() override; // throws IoError when the bytes cannot be written

  private:
    int fd_;
    const char* what_;
    std::string pending_;
};

// A standard stream that cannot be read or written.
struct IoError {
    bool reading;     // the deck could not be read, rather than the script written
    std::string what; // e.g. "cannot write the plot script: No space left on device"
};

} // namespace peakpos
