#include "client/RotationKeyDecomposition.hpp"

#include "Quelt/Exception.hpp"

namespace Quelt::detail {

std::vector<std::uint64_t>
buildRotationKeyDecompositionTable(std::uint64_t slots, const std::vector<std::uint64_t> &steps) {
    const std::uint64_t mask = slots - 1;
    std::vector<std::uint64_t> usable;
    usable.reserve(steps.size());
    for (const std::uint64_t step : steps)
        if ((step & mask) != 0)
            usable.push_back(step);

    std::vector<std::uint64_t> table(slots, 0);
    // Every residue but 0 enters the queue once, when its entry turns
    // nonzero; 0 starts it and may enter once more when a route returns to
    // it. So slots + 1 places hold every queue.
    std::vector<std::uint64_t> queue(slots + 1);
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    queue[tail++] = 0;
    while (head < tail) {
        const std::uint64_t current = queue[head++];
        for (const std::uint64_t step : usable) {
            const std::uint64_t next = (current + step) & mask;
            if (table[next] == 0) {
                table[next] = step;
                queue[tail++] = next;
            }
        }
    }
    return table;
}

std::vector<std::uint64_t> decomposeRotation(const std::vector<std::uint64_t> &table,
                                             std::uint64_t idx) {
    const std::uint64_t slots = table.size();
    if (slots == 0)
        throw RuntimeException(kUnreachableRotation);
    const std::uint64_t mask = slots - 1;
    std::uint64_t x = idx & mask;
    if (table[x] == 0)
        throw RuntimeException(kUnreachableRotation);
    std::vector<std::uint64_t> route;
    // Each entry leads back to a residue found earlier, so the walk reaches 0
    // within `slots` steps.
    while (x != 0 && route.size() < slots) {
        const std::uint64_t step = table[x];
        route.push_back(step);
        x = (x + slots - step) & mask;
    }
    return route;
}

} // namespace Quelt::detail
