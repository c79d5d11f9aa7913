// Output: standard output written so that a failure is never lost.
//
// Every byte goes through one buffer to the descriptor; a short write is retried, a descriptor
// left non-blocking by whoever started the program is waited on, and an error (full device,
// closed pipe, closed descriptor) is kept, after which nothing more is written. The program asks
// `failed()` at the end and reports instead of exiting as if all was printed. SIGPIPE must be
// ignored (see guardStandardStreams) for a closed pipe to show up here as EPIPE rather than end
// the program.
#pragma once

#include <string>
#include <string_view>

namespace frame {

class Output {
  public:
    explicit Output(int fd);
    ~Output();  // flushes
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    Output& operator<<(std::string_view bytes);
    Output& operator<<(char byte) { return *this << std::string_view(&byte, 1); }
    // Writes what is buffered. False once any write has failed.
    bool flush();

    [[nodiscard]] bool failed() const { return error_ != 0; }
    // Counts as a failed write from the start: for an output that was closed before the program
    // began (its descriptor is held on /dev/null so that nothing else is opened there).
    void setFailed(int error) { error_ = error; }
    // The system's error of the first failed write ("No space left on device").
    [[nodiscard]] std::string errorText() const;

  private:
    void writeOut(std::string_view bytes);

    int fd_;
    int error_ = 0;
    std::string buffer_;
};

}  // namespace frame
