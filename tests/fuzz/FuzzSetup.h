#pragma once

// Gives the fuzz process a host root of its own (the record log lands there) and sends the
// tool's console echo of error records to /dev/null, so that only the fuzzer reports.
void PrepareFuzzHost();
