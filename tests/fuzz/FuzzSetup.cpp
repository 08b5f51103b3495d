#include "FuzzSetup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

void PrepareFuzzHost() {
    if (std::getenv("WINHOST_ROOT") == nullptr) {
        std::string root = "/tmp/ostrel-fuzz-XXXXXX";
        if (mkdtemp(root.data()) != nullptr) {
            setenv("WINHOST_ROOT", root.c_str(), 1);
        }
    }
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::perror("fuzz: stdout");
    }
}
