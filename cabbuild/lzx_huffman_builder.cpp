#include "cabbuild/lzx_huffman_builder.h"

#include <algorithm>
#include <queue>

namespace cabbuild::lzx_detail {

namespace {

// Plain Huffman code lengths for at least two used symbols.
std::vector<uint8_t> HuffmanLengths(const std::vector<uint64_t>& weights) {
    const size_t n = weights.size();
    std::vector<uint32_t> parent(2 * n, 0);
    using Node = std::pair<uint64_t, uint32_t>;
    std::priority_queue<Node, std::vector<Node>, std::greater<>> queue;
    for (size_t i = 0; i < n; ++i) queue.push({weights[i], static_cast<uint32_t>(i)});
    auto next = static_cast<uint32_t>(n);
    while (queue.size() > 1) {
        Node a = queue.top();
        queue.pop();
        Node b = queue.top();
        queue.pop();
        parent[a.second] = next;
        parent[b.second] = next;
        queue.push({a.first + b.first, next++});
    }
    const uint32_t root = next - 1;
    std::vector<uint8_t> depth(2 * n, 0);
    std::vector<uint8_t> lengths(n);
    for (uint32_t node = root; node-- > 0;)
        depth[node] = static_cast<uint8_t>(depth[parent[node]] + 1);
    for (size_t i = 0; i < n; ++i) lengths[i] = depth[i];
    return lengths;
}

}  // namespace

std::vector<uint8_t> BuildCodeLengths(const uint32_t* frequencies, uint32_t symbols,
                                      uint32_t maxLength) {
    std::vector<uint8_t> lengths(symbols, 0);
    std::vector<uint32_t> used;
    for (uint32_t s = 0; s < symbols; ++s)
        if (frequencies[s] != 0) used.push_back(s);
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        lengths[used[0] == 0 ? 1 : 0] = 1;
        return lengths;
    }
    std::vector<uint64_t> weights(used.size());
    for (size_t i = 0; i < used.size(); ++i) weights[i] = frequencies[used[i]];
    for (;;) {
        std::vector<uint8_t> depth = HuffmanLengths(weights);
        if (*std::max_element(depth.begin(), depth.end()) <= maxLength) {
            for (size_t i = 0; i < used.size(); ++i) lengths[used[i]] = depth[i];
            return lengths;
        }
        // Too deep: flatten the distribution and try again.
        for (uint64_t& w : weights) w = (w + 1) / 2;
    }
}

std::vector<uint16_t> CanonicalCodes(const uint8_t* lengths, uint32_t symbols) {
    std::vector<uint16_t> codes(symbols, 0);
    uint32_t code = 0;
    for (uint32_t len = 1; len <= 16; ++len) {
        for (uint32_t s = 0; s < symbols; ++s)
            if (lengths[s] == len) codes[s] = static_cast<uint16_t>(code++);
        code <<= 1;
    }
    return codes;
}

}  // namespace cabbuild::lzx_detail
