// version-caller NAME [BUFFER-LENGTH]: calls GetDriverVersion as another program does and prints
// what came back, the same way on Linux and under Wine, so that pair-cases.sh can compare them:
//   result R length L text "T"     (or "text untouched" when the buffer was not written)
// The buffer is 64 bytes, its length argument 64 unless given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "version/GetDriverVersion.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: version-caller NAME [BUFFER-LENGTH]\n");
        return 2;
    }
    constexpr char Untouched = '#';
    char buffer[64];
    std::memset(buffer, Untouched, sizeof(buffer));
    int32_t length = -7;
    const int32_t bufferLength = argc > 2 ? std::atoi(argv[2]) : 64;
    const int32_t result = GetDriverVersion(argv[1], buffer, bufferLength, &length);
    std::printf("result %d length %d ", static_cast<int>(result), static_cast<int>(length));
    if (buffer[0] == Untouched) {
        std::printf("text untouched\n");
    } else {
        std::printf("text \"%.*s\"\n", static_cast<int>(strnlen(buffer, sizeof(buffer))), buffer);
    }
    return 0;
}
