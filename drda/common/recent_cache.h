// SPDX-License-Identifier: Apache-2.0
// A direct-mapped cache in front of a map of objects that outlive their
// lookups (connections by number or by address): slot hash % N holds the
// object last found with that hash. The caller checks that what it gets
// is the object it asked for, and tells the cache when one goes away.
//
// With thousands of connections in flight the map's nodes are rarely in
// the processor's caches; this table of pointers (32 KiB) mostly is.
#pragma once

#include <array>
#include <cstddef>

namespace drda {

template <class T, std::size_t N = 4096>
class RecentCache {
    static_assert((N & (N - 1)) == 0, "N must be a power of two");

public:
    RecentCache() = default;
    // A copy starts empty: what it held points into the original's map.
    RecentCache(const RecentCache&) {}
    RecentCache& operator=(const RecentCache&) {
        clear();
        return *this;
    }

    T* get(std::size_t hash) const { return slots_[hash & (N - 1)]; }
    void put(std::size_t hash, T* p) { slots_[hash & (N - 1)] = p; }
    void forget(std::size_t hash, const T* p) {
        T*& slot = slots_[hash & (N - 1)];
        if (slot == p) slot = nullptr;
    }

    void clear() { slots_.fill(nullptr); }

private:
    std::array<T*, N> slots_{};
};

}  // namespace drda
