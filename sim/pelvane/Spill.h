#pragma once
// Output of a long run that must wait for its end, kept out of memory meanwhile: bytes written
// to a temporary file and read back once, or kept in memory when no temporary file can be made.
#include <cstddef>
#include <cstdio>
#include <ostream>
#include <string>

namespace pelvane {

class Spill {
  public:
    Spill();
    ~Spill();
    Spill(const Spill&) = delete;
    Spill& operator=(const Spill&) = delete;

    void Write(const void* data, std::size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    bool Empty() const { return written_ == 0; }

    // Reading starts again at the first byte; Read returns false when fewer than `size` bytes
    // are left.
    void Rewind();
    bool Read(void* data, std::size_t size);
    void CopyTo(std::ostream& out);

  private:
    void MoveToMemory();

    std::FILE* file_;
    std::string memory_; // without a file
    std::size_t written_ = 0;
    std::size_t readAt_ = 0;
};

} // namespace pelvane
