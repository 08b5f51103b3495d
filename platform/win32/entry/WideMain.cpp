// The start-up of a program whose entry point is wmain (what -municode selects on Windows): the
// arguments are handed over as wide strings. Bytes are widened one to one, as the C locale does.

#include <string>
#include <vector>

int wmain(int argc, wchar_t* argv[]);

int main(int argc, char* argv[]) {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) {
        std::wstring wide;
        for (const char* c = argv[i]; *c; ++c)
            wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        arguments.push_back(wide);
    }
    std::vector<wchar_t*> pointers;
    for (auto& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return wmain(argc, pointers.data());
}
