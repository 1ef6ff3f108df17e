// The spill window: when the window does not fit in memory it lives in a
// temporary file obtained through the engine's open callback, seen through a
// small least-recently-used cache of 4096-byte pages.
//
// Windows smaller than a page occupy the first `pageBytes` bytes of page 0,
// and the write position wraps there, so that writes and match sources agree
// on where each window byte lives.
#include <cstring>

#include "decoders/quantum_state.h"

namespace quantum {

namespace {

constexpr int kSpillOpenFlags = 0x8102;  // binary, create, read and write
constexpr int kSpillOpenMode = 0x180;    // read and write permission
constexpr int kSeekSet = 0;

void Unlink(SpillState& s, SpillBuffer* b) {
    (b->prev ? b->prev->next : s.head) = b->next;
    (b->next ? b->next->prev : s.tail) = b->prev;
    b->prev = b->next = nullptr;
}

void PushHead(SpillState& s, SpillBuffer* b) {
    b->prev = nullptr;
    b->next = s.head;
    (s.head ? s.head->prev : s.tail) = b;
    s.head = b;
}

void MoveToHead(SpillState& s, SpillBuffer* b) {
    if (s.head == b) return;
    Unlink(s, b);
    PushHead(s, b);
}

bool SeekToPage(QuantumDecoder& d, uint32_t page) {
    const int32_t offset = int32_t(page * kSpillPageSize);
    return d.files.seek != nullptr && d.files.seek(d.spill.file, offset, kSeekSet) == offset;
}

// Brings page p into a buffer at the head of the list; null on failure.
SpillBuffer* FetchPage(QuantumDecoder& d, uint32_t p, bool forWriting) {
    SpillState& s = d.spill;
    if (SpillBuffer* hit = s.table[p].buffer) {
        MoveToHead(s, hit);
        if (forWriting) hit->dirty = true;
        return hit;
    }
    SpillBuffer* victim = s.tail;
    if (victim == nullptr || victim == s.writeBuffer) return nullptr;
    if (victim->page >= 0) {
        const auto old = uint32_t(victim->page);
        s.table[old].buffer = nullptr;
        victim->page = -1;
        if (victim->dirty) {
            victim->dirty = false;
            if (!SeekToPage(d, old) || d.files.write == nullptr ||
                d.files.write(s.file, victim->data, kSpillPageSize) != kSpillPageSize)
                return nullptr;
            s.table[old].written = true;
        }
    }
    MoveToHead(s, victim);
    s.table[p].buffer = victim;
    victim->page = int32_t(p);
    if (s.table[p].written) {
        if (!SeekToPage(d, p) || d.files.read == nullptr ||
            d.files.read(s.file, victim->data, kSpillPageSize) != kSpillPageSize) {
            s.table[p].buffer = nullptr;
            victim->page = -1;
            return nullptr;
        }
    } else if (!forWriting) {
        // Never written since the reset: there is nothing to read back.
        s.table[p].buffer = nullptr;
        victim->page = -1;
        return nullptr;
    }
    victim->dirty = forWriting;
    return victim;
}

void Fail(QuantumDecoder& d, CallOutput& o) {
    d.spillError = true;
    o.remaining = 0;
}

// Moves on to the next write page once the current one is full.
bool AdvanceWritePage(QuantumDecoder& d) {
    SpillState& s = d.spill;
    if (s.writeOffset < s.pageBytes) return true;
    const uint32_t next = (uint32_t(s.writeBuffer->page) + 1) % s.windowPages;
    SpillBuffer* b = FetchPage(d, next, true);
    if (b == nullptr) return false;
    s.writeBuffer = b;
    s.writeOffset = 0;
    return true;
}

void FreeBuffers(QuantumDecoder& d) {
    SpillState& s = d.spill;
    while (SpillBuffer* b = s.head) {
        s.head = b->next;
        d.free(b);
    }
    s.tail = nullptr;
    s.writeBuffer = nullptr;
    d.free(s.table);
    s.table = nullptr;
}

}  // namespace

bool SpillSetUp(QuantumDecoder& d) {
    SpillState& s = d.spill;
    std::memset(&s, 0, sizeof s);
    s.file = -1;
    if (d.files.open == nullptr) return false;
    char name[6] = {'*', 0};
    for (int k = 0; k < 4; ++k) name[2 + k] = char((d.windowSize >> (8 * k)) & 0xFF);
    s.file = d.files.open(name, kSpillOpenFlags, kSpillOpenMode);
    if (s.file == -1) return false;

    s.windowPages = d.windowSize >= kSpillPageSize ? d.windowSize / kSpillPageSize : 1;
    s.pageBytes = d.windowSize >= kSpillPageSize ? kSpillPageSize : d.windowSize;
    s.tableSize = s.windowPages < kMinSpillBuffers ? kMinSpillBuffers : s.windowPages;
    s.table = static_cast<SpillPageEntry*>(d.alloc(uint32_t(s.tableSize * sizeof(SpillPageEntry))));
    if (s.table == nullptr) {
        if (d.files.close) d.files.close(s.file);
        s.file = -1;
        return false;
    }
    while (s.bufferCount < s.tableSize) {
        auto* b = static_cast<SpillBuffer*>(d.alloc(sizeof(SpillBuffer)));
        if (b == nullptr) break;
        std::memset(b, 0, sizeof *b);
        PushHead(s, b);
        ++s.bufferCount;
    }
    if (s.bufferCount < kMinSpillBuffers) {
        FreeBuffers(d);
        if (d.files.close) d.files.close(s.file);
        s.file = -1;
        return false;
    }
    SpillResetCache(d);
    return true;
}

void SpillResetCache(QuantumDecoder& d) {
    SpillState& s = d.spill;
    for (SpillBuffer* b = s.head; b != nullptr; b = b->next) {
        b->page = -1;
        b->dirty = false;
    }
    for (uint32_t p = 0; p < s.tableSize; ++p) s.table[p] = {nullptr, false};
    s.writeBuffer = nullptr;
    // Cannot fail: no buffer holds a page, so nothing is written back.
    s.writeBuffer = FetchPage(d, 0, true);
    s.writeOffset = 0;
}

void SpillRelease(QuantumDecoder& d) {
    FreeBuffers(d);
    if (d.spill.file != -1 && d.files.close) d.files.close(d.spill.file);
    d.spill.file = -1;
}

void SpillPutLiteral(QuantumDecoder& d, CallOutput& o, uint8_t b) {
    SpillState& s = d.spill;
    --o.remaining;
    ++d.total;
    *o.out++ = b;
    s.writeBuffer->data[s.writeOffset++] = b;
    if (!AdvanceWritePage(d)) Fail(d, o);
}

void SpillCopyMatch(QuantumDecoder& d, CallOutput& o, uint32_t length, uint32_t offset) {
    SpillState& s = d.spill;
    if (o.remaining < length) {
        o.overflow = true;
        o.remaining = 0;
        return;
    }
    // A source before the folder's first byte was never decoded: with small
    // windows or a partly written page it would otherwise read stale bytes.
    if (offset > d.total) return Fail(d, o);
    o.remaining -= length;
    uint32_t src = (d.total - offset) & d.windowMask;
    d.total += length;
    while (length > 0) {
        // Keep the write page most recently used before each source fetch: a
        // match whose source spans two pages would otherwise push it to the
        // tail of a three-buffer cache and make the next page move fail.
        if (FetchPage(d, uint32_t(s.writeBuffer->page), false) == nullptr) return Fail(d, o);
        uint32_t chunk = s.pageBytes - s.writeOffset;
        if (chunk > length) chunk = length;
        const uint32_t page = src / kSpillPageSize;
        const uint32_t inPage = src % kSpillPageSize;
        SpillBuffer* from = FetchPage(d, page, false);
        if (from == nullptr) return Fail(d, o);
        if (chunk > s.pageBytes - inPage) chunk = s.pageBytes - inPage;
        // Byte by byte: source and destination may overlap within one page.
        uint8_t* to = s.writeBuffer->data + s.writeOffset;
        for (uint32_t k = 0; k < chunk; ++k) to[k] = from->data[inPage + k];
        std::memcpy(o.out, to, chunk);
        o.out += chunk;
        s.writeOffset += chunk;
        length -= chunk;
        src = (src + chunk) & d.windowMask;
        if (!AdvanceWritePage(d)) return Fail(d, o);
    }
}

}  // namespace quantum
