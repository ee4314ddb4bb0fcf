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

    // A byte as "%2.02X" shows it after widening.
    void hex2(std::uint8_t b) { out_.put_hex(widened(b), 2); }

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
                out_.put("*MDD: Len: ");
                hex2(at(header_));
                out_.put(" Type: ");
                hex2(at(header_ + 1));
                out_.put(" ID: ");
                hex2(at(header_ + 2));
                out_.put(" AppClass: ");
                hex2(at(pos_));
                out_.put(" MDD Type: ");
                hex2(at(pos_ + 1));
                out_.put('\n');
                out_.spaces(depth_);
                out_.put("      RefType: ");
                hex2(at(pos_ + 2));
                out_.put(" DrdaType: ");
                hex2(at(pos_ + 3));
                out_.put('\n');
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
        out_.put(" SDA: Len: ");
        hex2(at(pos_));
        out_.put(" Type: ");
        hex2(at(pos_ + 1));
        out_.put(" EnvLid: ");
        hex2(at(pos_ + 2));
        out_.put(" FD:OCA Type: ");
        hex2(at(pos_ + 3));
        out_.put('\n');
        const auto p = static_cast<std::size_t>(pos_);
        out_.spaces(depth_);
        out_.put("      CCSID: ");
        out_.put_hex_alt(v_.be32(p + 4), 8);
        out_.put(" CharSize: ");
        hex2(at(pos_ + 8));
        out_.put(" Mode: ");
        hex2(at(pos_ + 9));
        out_.put(" Length: ");
        out_.put_hex_alt(static_cast<unsigned>(int{v_.sbe16(p + 10)}), 4);
        out_.put('\n');
        pos_ += kSdaSize;
        rest_ -= kSdaSize;
    }

    // An N-GDA or a CPT at the current header: its line, its entries, and
    // the header after it. Only the N-GDA numbers its entries from 0.
    void group(const char* name, bool restart_index) {
        out_.spaces(depth_);
        out_.put(name);
        out_.put(" Len: ");
        hex2(at(header_));
        out_.put(" Type: ");
        hex2(at(header_ + 1));
        out_.put(" ID: ");
        hex2(at(header_ + 2));
        out_.put('\n');
        if (restart_index) var_ = 0;
        long n = long{at(header_)} - kHeaderSize;
        while (n > 0 && rest_ >= kEntrySize) {
            out_.spaces(depth_ + 4);
            out_.put("Var[");
            if (var_ < 0) out_.put('-');
            const unsigned index = var_ < 0 ? 0u - static_cast<unsigned>(var_) : static_cast<unsigned>(var_);
            if (index < 10) out_.put('0');  // "%.02d": at least two digits
            out_.put_udec(index);
            out_.put("] Type: ");
            out_.put_hex_alt(widened(at(pos_)), 2);
            out_.put(" Len: ");
            out_.put_hex_alt(v_.be16(static_cast<std::size_t>(pos_ + 1)), 4);
            out_.put('\n');
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
        out_.put("Footer: Length: ");
        out_.put_dec(f);
        out_.put('\n');
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
