#include "ploven/patterns.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

namespace ploven {

namespace {

// Rows packed into 64-bit words, one bit per item, so rows compare and hash a word at a time.
struct PackedRows {
    int words = 0;
    std::vector<std::uint64_t> bits;

    PackedRows(const PatternTable& rows) : words((rows.nitem + 63) / 64) {
        bits.assign(static_cast<std::size_t>(rows.size()) * words, 0);
        for (int i = 0; i < rows.size(); ++i) {
            const std::uint8_t* x = rows.row(i);
            std::uint64_t* w = row(i);
            for (int j = 0; j < rows.nitem; ++j)
                if (x[j]) w[j / 64] |= std::uint64_t{1} << (j % 64);
        }
    }
    std::uint64_t* row(int i) { return bits.data() + static_cast<std::size_t>(i) * words; }
    const std::uint64_t* row(int i) const {
        return bits.data() + static_cast<std::size_t>(i) * words;
    }
    bool same(int a, int b) const {
        return words == 0 || std::memcmp(row(a), row(b), sizeof(std::uint64_t) * words) == 0;
    }
    std::uint64_t hash(int i) const {
        std::uint64_t h = 0x9E3779B97F4A7C15ull;
        for (int w = 0; w < words; ++w) {
            h ^= row(i)[w];
            h *= 0xBF58476D1CE4E5B9ull;
            h ^= h >> 31;
        }
        return h;
    }
};

} // namespace

PatternTable foldPatterns(const PatternTable& cases, std::vector<int>* patternOfCase) {
    const int ncase = cases.size();
    PatternTable patterns;
    patterns.nitem = cases.nitem;
    if (patternOfCase) patternOfCase->assign(static_cast<std::size_t>(ncase), -1);
    if (ncase == 0) return patterns;

    PackedRows packed(cases);
    // Open addressing; a slot holds the first case of a pattern, or -1.
    std::size_t capacity = std::bit_ceil(static_cast<std::size_t>(ncase) * 2);
    std::vector<int> slot(capacity, -1);
    std::vector<int> patternOfFirst(static_cast<std::size_t>(ncase), -1);
    const std::size_t mask = capacity - 1;

    for (int i = 0; i < ncase; ++i) {
        std::size_t s = packed.hash(i) & mask;
        while (slot[s] >= 0 && !packed.same(slot[s], i)) s = (s + 1) & mask;
        int p;
        if (slot[s] < 0) {
            slot[s] = i;
            p = patterns.size();
            patternOfFirst[i] = p;
            patterns.freq.push_back(0);
            const std::uint8_t* x = cases.row(i);
            patterns.x.insert(patterns.x.end(), x, x + cases.nitem);
        } else {
            p = patternOfFirst[slot[s]];
        }
        patterns.freq[p] += cases.freq[i];
        if (patternOfCase) (*patternOfCase)[i] = p;
    }
    return patterns;
}

std::vector<int> heapsortIndex(std::span<const int> keys) {
    // The 1-based heapsort, transcribed with indx[1..n] stored at indx[0..n-1].
    const int n = static_cast<int>(keys.size());
    std::vector<int> indx(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) indx[j] = j + 1;
    if (n < 2) {
        for (int& v : indx) v -= 1;
        return indx;
    }
    auto key = [&](int oneBased) { return keys[oneBased - 1]; };
    auto at = [&](int oneBased) -> int& { return indx[oneBased - 1]; };
    int l = n / 2 + 1;
    int ir = n;
    for (;;) {
        int indxt;
        int q;
        if (l > 1) {
            --l;
            indxt = at(l);
            q = key(indxt);
        } else {
            indxt = at(ir);
            q = key(indxt);
            at(ir) = at(1);
            if (--ir == 1) {
                at(1) = indxt;
                break;
            }
        }
        int i = l;
        int j = l + l;
        while (j <= ir) {
            if (j < ir && key(at(j)) < key(at(j + 1))) ++j;
            if (q < key(at(j))) {
                at(i) = at(j);
                i = j;
                j += j;
            } else {
                j = ir + 1;
            }
        }
        at(i) = indxt;
    }
    for (int& v : indx) v -= 1;
    return indx;
}

} // namespace ploven
