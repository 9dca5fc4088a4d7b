#pragma once

// An output file of a command, written whole or not at all: the bytes go to a
// new file in the output's folder (created exclusively, so no link or other
// file is ever written through), which is made durable and renamed over the
// output's name only when every write, the flush and the close succeeded. A
// failure leaves the old file (or none) and removes the new one. An output
// that is one of the command's inputs, or names something other than a
// regular file (a fifo, a device, a folder), is refused before anything is
// written.

#include <sys/types.h>

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace ketrion::files {

// A file a command reads, and how messages name it ("collection file").
struct Input {
    std::string path;
    std::string what;
};

// Why `path` cannot be an output for a command reading `inputs` (compared by
// device and inode, so another name of the same file is caught too): a
// message naming it, or empty when it can be written. An input that does not
// exist is no obstacle.
std::string CheckOutput(const std::string& path, const std::vector<Input>& inputs);

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;

    // Checks `path` as CheckOutput does and creates the new file beside it
    // (its permissions those of a file the user creates). False with Error().
    bool Open(const std::string& path, const std::vector<Input>& inputs);
    // Appends bytes; false with Error() once any write has failed.
    bool Write(std::string_view bytes);
    // A stream over Write, for writers that take a std::ostream; its state
    // goes bad when a write fails.
    std::ostream& Stream() { return m_stream; }
    // Makes the new file durable, closes it and renames it over the output's
    // name; false with Error() (the new file is then gone).
    bool Commit();
    // Removes the new file and forgets it (after a failure elsewhere).
    void Discard();

    // The new file while it is being written (for writers that need a
    // descriptor or a path of their own; the path is the output's folder).
    int Fd() const { return m_fd; }
    const std::string& TempPath() const { return m_temp; }
    const std::string& Path() const { return m_path; }
    // "cannot write OUT: <reason>", or the refusal from CheckOutput.
    const std::string& Error() const { return m_error; }

private:
    class Buffer final : public std::streambuf {
    public:
        explicit Buffer(OutputFile& file) : m_file(file) { Reset(); }
        void Reset() { setp(m_bytes, m_bytes + sizeof m_bytes); }

    protected:
        int_type overflow(int_type c) override;
        int sync() override;

    private:
        OutputFile& m_file;
        char m_bytes[64 * 1024];
    };

    bool Fail(int error);

    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
    int m_failed = 0;  // errno of the first failed write
    std::string m_error;
    Buffer m_buffer{*this};
    std::ostream m_stream{&m_buffer};
};

// Writes `bytes` as the output `path` in one go; false with a message in
// `error`.
bool WriteWholeFile(const std::string& path, std::string_view bytes,
                    const std::vector<Input>& inputs, std::string& error);

}  // namespace ketrion::files
