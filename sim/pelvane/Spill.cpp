// Temporary files for the output that waits for the end of a run.
#include "Spill.h"

#include <algorithm>
#include <cstring>

namespace pelvane {

Spill::Spill() : file_(std::tmpfile()) {}

Spill::~Spill() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void Spill::Write(const void* data, std::size_t size) {
    if (file_ != nullptr && std::fwrite(data, 1, size, file_) == size) {
        written_ += size;
        return;
    }
    if (file_ != nullptr) {
        MoveToMemory();
    }
    memory_.append(static_cast<const char*>(data), size);
    written_ += size;
}

// A full disk loses nothing: the file's complete writes go to memory, and the rest with them.
void Spill::MoveToMemory() {
    std::fflush(file_);
    std::rewind(file_);
    memory_.resize(written_);
    if (std::fread(memory_.data(), 1, written_, file_) != written_) {
        memory_.clear();
        written_ = 0;
    }
    std::fclose(file_);
    file_ = nullptr;
}

void Spill::Rewind() {
    readAt_ = 0;
    if (file_ != nullptr) {
        std::fflush(file_);
        std::rewind(file_);
    }
}

bool Spill::Read(void* data, std::size_t size) {
    if (readAt_ + size > written_) {
        return false;
    }
    if (file_ != nullptr) {
        if (std::fread(data, 1, size, file_) != size) {
            return false;
        }
    } else {
        std::memcpy(data, memory_.data() + readAt_, size);
    }
    readAt_ += size;
    return true;
}

void Spill::CopyTo(std::ostream& out) {
    Rewind();
    char block[1 << 16];
    while (readAt_ < written_) {
        std::size_t n = std::min(sizeof block, written_ - readAt_);
        if (!Read(block, n)) {
            return;
        }
        out.write(block, static_cast<std::streamsize>(n));
    }
}

} // namespace pelvane
