// Finds a name's number in a list of names that grows and shrinks at its
// end, as a layer's surface names do when a build adds a surface for each
// book and is taken back. Open addressing over the numbers alone, the names
// being kept by the list: no allocation for a name, and a name taken back
// is removed in place, leaving no marker behind.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace modeler {

class NameIndex {
  public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // The number of name within names, or kNone.
    uint32_t find(std::string_view name, std::span<const std::string> names) const {
        if (slots_.empty()) return kNone;
        const uint32_t hash = hashOf(name);
        for (std::size_t i = hash & mask();; i = (i + 1) & mask()) {
            const Slot &slot = slots_[i];
            if (slot.number == kNone) return kNone;
            if (slot.hash == hash && names[slot.number] == name) return slot.number;
        }
    }

    // Adds name as number; it must not be there yet.
    void insert(std::string_view name, uint32_t number) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        place({number, hashOf(name)});
        ++count_;
    }

    // Removes the entry of name, which must be there as number. The entries
    // after it in its run move back, so that every entry stays reachable
    // from its home slot.
    void erase(std::string_view name, uint32_t number) {
        std::size_t i = hashOf(name) & mask();
        while (slots_[i].number != number)
            i = (i + 1) & mask();
        for (std::size_t j = (i + 1) & mask(); slots_[j].number != kNone; j = (j + 1) & mask()) {
            // The entry at j may fill the hole at i unless its home lies
            // in the cyclic range (i, j].
            const std::size_t home = slots_[j].hash & mask();
            if (((j - home) & mask()) >= ((j - i) & mask())) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{};
        --count_;
    }

  private:
    struct Slot {
        uint32_t number = kNone;
        uint32_t hash = 0;
    };
    static uint32_t hashOf(std::string_view name) {
        const uint64_t h = std::hash<std::string_view>{}(name);
        return static_cast<uint32_t>(h ^ (h >> 32));
    }
    std::size_t mask() const { return slots_.size() - 1; }
    void place(Slot entry) {
        std::size_t i = entry.hash & mask();
        while (slots_[i].number != kNone)
            i = (i + 1) & mask();
        slots_[i] = entry;
    }
    // The larger table is made before the old one is let go, so that an
    // allocation that fails leaves the index as it was.
    void grow() {
        std::vector<Slot> larger(std::max<std::size_t>(64, 2 * slots_.size()));
        larger.swap(slots_);
        for (const Slot &slot : larger) {
            if (slot.number != kNone) place(slot);
        }
    }

    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::size_t count_ = 0;
};

}  // namespace modeler
