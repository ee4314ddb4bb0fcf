// SPDX-License-Identifier: Apache-2.0
// FD:OCA descriptors: the leading MDD triplets (each with the SDA that an
// MDD of type 1 announces), at most one N-GDA, the CPTs that continue it,
// and a footer dump of everything left.
//
// The walk keeps a read position and `rest`, the bytes from it to the end
// of the value. Each step takes bytes only when `rest` says they exist,
// except that the header after an N-GDA or CPT is taken unconditionally:
// `rest` may then fall to -3. The footer is the last rest + 3 bytes, which
// starts at the last header taken, the first triplet not recognised.
#include "ddm/fdoca.h"

#include <cassert>

namespace drda {
namespace {

constexpr std::uint8_t kMdd = 0x78;
constexpr std::uint8_t kNgda = 0x76;
constexpr std::uint8_t kCpt = 0x7F;

constexpr long kHeaderSize = 3;
constexpr long kMddTail = 4;   // the MDD bytes behind its header
constexpr long kSdaSize = 12;
constexpr long kEntrySize = 3;

// A byte for a "%X" field: taken as signed and widened, so 0xD0 prints as
// FFFFFFD0.
unsigned widened(std::uint8_t b) { return static_cast<unsigned>(static_cast<int>(static_cast<std::int8_t>(b))); }

class DescriptorWalk {
public:
    DescriptorWalk(TextWriter& out, int depth, ByteView value)
        : out_(out), depth_(depth), v_(value), size_(static_cast<long>(value.size())) {}

    void run() {
        rest_ = size_ - kHeaderSize;
        if (size_ >= kHeaderSize) {
            pos_ = kHeaderSize;
            mdd_phase();
            if (type() == kNgda) group(" N-GDA", true);
            while (rest_ >= kHeaderSize && type() == kCpt) group(" CPT", false);
        }
        footer();
    }

private:
    std::uint8_t at(long off) const { return v_.u8(static_cast<std::size_t>(off)); }
    std::uint8_t type() const { return at(header_ + 1); }

    void take_header() {
        header_ = pos_;
        pos_ += kHeaderSize;
        rest_ -= kHeaderSize;
    }

    void mdd_phase() {
        while (type() == kMdd && rest_ >= kHeaderSize) {
            bool printed = false;
            if (rest_ >= kMddTail) {
                out_.spaces(depth_);
                out_.printf("*MDD: Len: %2.02X Type: %2.02X ID: %2.02X AppClass: %2.02X MDD Type: %2.02X\n",
                            widened(at(header_)), widened(at(header_ + 1)), widened(at(header_ + 2)),
                            widened(at(pos_)), widened(at(pos_ + 1)));
                out_.spaces(depth_);
                out_.printf("      RefType: %2.02X DrdaType: %2.02X\n", widened(at(pos_ + 2)),
                            widened(at(pos_ + 3)));
                printed = at(pos_ + 1) == 1;  // MDD type 1 announces an SDA
                pos_ += kMddTail;
                rest_ -= kMddTail;
            }
            if (printed && rest_ >= kSdaSize) sda();
            if (rest_ >= kHeaderSize) take_header();
            ++var_;
        }
    }

    void sda() {
        out_.spaces(depth_);
        out_.printf(" SDA: Len: %2.02X Type: %2.02X EnvLid: %2.02X FD:OCA Type: %2.02X\n", widened(at(pos_)),
                    widened(at(pos_ + 1)), widened(at(pos_ + 2)), widened(at(pos_ + 3)));
        const auto p = static_cast<std::size_t>(pos_);
        out_.spaces(depth_);
        out_.printf("      CCSID: %#8.08X CharSize: %2.02X Mode: %2.02X Length: %#4.04X\n", v_.be32(p + 4),
                    widened(at(pos_ + 8)), widened(at(pos_ + 9)), static_cast<unsigned>(int{v_.sbe16(p + 10)}));
        pos_ += kSdaSize;
        rest_ -= kSdaSize;
    }

    // An N-GDA or a CPT at the current header: its line, its entries, and
    // the header after it. Only the N-GDA numbers its entries from 0.
    void group(const char* name, bool restart_index) {
        out_.spaces(depth_);
        out_.printf("%s Len: %2.02X Type: %2.02X ID: %2.02X\n", name, widened(at(header_)),
                    widened(at(header_ + 1)), widened(at(header_ + 2)));
        if (restart_index) var_ = 0;
        long n = long{at(header_)} - kHeaderSize;
        while (n > 0 && rest_ >= kEntrySize) {
            out_.spaces(depth_ + 4);
            out_.printf("Var[%.02d] Type: %#2.02X Len: %#4.04hX\n", var_, widened(at(pos_)),
                        static_cast<unsigned short>(v_.be16(static_cast<std::size_t>(pos_ + 1))));
            pos_ += kEntrySize;
            rest_ -= kEntrySize;
            n -= kEntrySize;
            ++var_;
        }
        take_header();
    }

    void footer() {
        const long f = rest_ + kHeaderSize;
        const long from = size_ - f;
        // rest only falls below 0 by the one header taken after a group,
        // and then only from 0, 1 or 2, so the footer lies inside the value.
        const bool inside = f >= 0 && from >= 0 && v_.has(static_cast<std::size_t>(from), static_cast<std::size_t>(f));
        assert(inside);
        out_.spaces(depth_);
        out_.printf("Footer: Length: %ld\n", f);
        print_data_dump(out_, depth_,
                        inside ? v_.sub(static_cast<std::size_t>(from), static_cast<std::size_t>(f)) : ByteView());
    }

    TextWriter& out_;
    const int depth_;
    const ByteView v_;
    const long size_;
    long header_ = 0;
    long pos_ = 0;
    long rest_ = 0;
    int var_ = 0;
};

}  // namespace

void print_fdoca_descriptor(TextWriter& out, int depth, ByteView value) {
    DescriptorWalk(out, depth, value).run();
}

}  // namespace drda
