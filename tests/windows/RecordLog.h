#pragma once

#include <cstdint>
#include <string>

// The tool's record log, C:\ProgramData\MCUInterfaceRecords.log. A tail remembers where the
// file ended when it was made and gives back what has been appended since.
class RecordLogTail {
  public:
    RecordLogTail();
    std::string Appended() const;

  private:
    uint64_t start;
};
