#pragma once
// The lists that the machine and the simulated devices keep of what happened, for tests to
// read back. A long run (a soak) bounds them: a bounded list keeps at least its last `limit`
// entries, dropping the older half of one that reached twice the limit at once, so that the
// run costs no copy per entry.
#include <cstddef>
#include <utility>
#include <vector>

namespace kmdf {

template <typename T> void AppendBounded(std::vector<T>& list, T item, std::size_t limit) {
    if (limit != 0 && list.size() >= 2 * limit) {
        list.erase(list.begin(), list.end() - static_cast<std::ptrdiff_t>(limit));
    }
    list.push_back(std::move(item));
}

} // namespace kmdf
