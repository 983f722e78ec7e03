// Selection sort, as the "hff" coder's table order depends on it, done in
// O(n log n).
//
// The sort is defined as: for each position i from the first to the last but
// one, find the best item at positions i.. (the first one found when several
// are equally good) and swap it into position i. Selection sort is not
// stable, and the order of equal items it leaves behind is part of the coded
// text, so any other sort would change the output. A tournament tree over the
// positions finds each best item in O(log n) instead of a linear scan.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace kelmotra {

// Sorts items in place exactly as the selection sort above.
// Inputs: items (modified in place), better(a, b) = true when item a must
// come before item b (a strict ordering of keys; equal keys are neither).
template <class T, class Better>
void selectionsort(std::vector<T>& items, Better better) {
    const std::size_t n = items.size();
    if (n < 2) return;
    std::size_t size = 1;
    while (size < n) size *= 2;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // tree[size + p] is position p; inner nodes hold the winning position of
    // their range. Ties go to the lower position.
    std::vector<std::size_t> tree(2 * size, kNone);
    auto winner = [&](std::size_t a, std::size_t b) {
        if (a == kNone) return b;
        if (b == kNone) return a;
        if (better(items[b], items[a])) return b;
        if (better(items[a], items[b])) return a;
        return a < b ? a : b;
    };
    for (std::size_t p = 0; p < n; ++p) tree[size + p] = p;
    for (std::size_t v = size - 1; v >= 1; --v) tree[v] = winner(tree[2 * v], tree[2 * v + 1]);
    auto refresh = [&](std::size_t p) {
        for (std::size_t v = (size + p) / 2; v >= 1; v /= 2) tree[v] = winner(tree[2 * v], tree[2 * v + 1]);
    };
    for (std::size_t i = 0; i + 1 < n; ++i) {
        std::size_t best = tree[1];
        if (best != i) {
            std::swap(items[i], items[best]);
            refresh(best);
        }
        // Position i is settled: take it out of the tournament.
        tree[size + i] = kNone;
        refresh(i);
    }
}

}  // namespace kelmotra
