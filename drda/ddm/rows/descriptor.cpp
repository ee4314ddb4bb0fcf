// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/descriptor.h"

#include <utility>

namespace drda::rows {
namespace {

constexpr std::uint8_t kSda = 0x70;
constexpr std::uint8_t kRlo = 0x71;
constexpr std::uint8_t kNgda = 0x76;
constexpr std::uint8_t kMdd = 0x78;
constexpr std::uint8_t kCpt = 0x7F;

std::string hex2(std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[b >> 4], digits[b & 15]};
}

// Length rule of a late SDA's FD:OCA type.
Layout sda_layout(std::uint8_t fdoca_type, std::uint8_t drda) {
    switch (fdoca_type) {
        case 0x11:
        case 0x02: return Layout::kPrefix2;
        case 0x30:
        case 0x32: {
            const TypeRow* row = find_type(drda);
            return row && row->layout == Layout::kDigits ? Layout::kDigits : Layout::kPacked;
        }
        case 0x50:
        case 0x51: return Layout::kLob;
        case 0x07:
        case 0x19: return Layout::kPrefix1;
        default: return Layout::kLengthWord;
    }
}

}  // namespace

Column table_column(std::uint8_t code, std::uint16_t length) {
    Column c;
    c.code = code;
    c.drda = code;
    c.length = length;
    const TypeRow* row = find_type(code);
    c.layout = row ? row->layout : Layout::kNone;
    c.flags = static_cast<std::uint8_t>((code & 1 ? kNullable : 0) | (row && row->graphic ? kGraphic : 0));
    return c;
}

std::size_t empty_columns(const Descriptor& d) {
    std::size_t n = 0;
    for (const Column& c : d.columns) {
        if (c.nullable()) continue;
        switch (c.layout) {
            case Layout::kLengthWord: n += c.length == 0; break;
            case Layout::kDigits: n += (c.length >> 8) == 0; break;
            case Layout::kLob: n += (c.length & 0xFF) == 0; break;
            default: break;
        }
    }
    return n;
}

// Every member back to its start, the lists keeping their room (a
// builder is reset for each SQLDTA of a batch).
void DescriptorBuilder::reset() {
    d_.columns.clear();
    d_.ccsids.clear();
    d_.has_sqlca = false;
    late_.clear();
    entries_ = 0;
    offset_ = 0;
    mdd_pending_ = false;
    mdd_drda_ = 0;
    complete_ = false;
    started_ = false;
    error_.clear();
}

void DescriptorBuilder::fail(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
}

void DescriptorBuilder::add_entry(std::uint8_t code, std::uint16_t length) {
    ++entries_;
    if (entries_ > kMaxColumns) return;  // counted for the message only
    for (const LateId& late : late_) {
        if (late.lid != code) continue;
        Column c;
        c.code = code;
        c.drda = late.drda;
        c.length = length;
        c.layout = sda_layout(late.fdoca_type, late.drda);
        const TypeRow* row = find_type(late.drda);
        c.flags = static_cast<std::uint8_t>((late.drda & 1 ? kNullable : 0) | kLateSda |
                                            (row && row->cls == CharClass::kDbc ? kGraphic : 0));
        if (late.ccsid != 0) {
            d_.ccsids.push_back(late.ccsid);
            c.ccsid_ref = static_cast<std::uint16_t>(d_.ccsids.size());
        }
        d_.columns.push_back(c);
        return;
    }
    d_.columns.push_back(table_column(code, length));
}

bool DescriptorBuilder::add(ByteView v) {
    if (failed()) return false;
    started_ = true;
    std::size_t off = 0;
    while (off < v.size() && !complete_) {
        const std::size_t at = offset_ + off;
        const std::size_t rest = v.size() - off;
        const std::uint8_t ll = v.u8(off);
        if (rest < 3 || ll < 3 || ll > rest) {
            fail("triplet at descriptor byte " + std::to_string(at));
            return false;
        }
        const std::uint8_t type = v.u8(off + 1);
        const std::uint8_t id = v.u8(off + 2);
        const auto bad_length = [&] { fail("triplet type " + hex2(type) + " length " + std::to_string(ll)); };
        switch (type) {
            case kMdd:
                if (ll != 7) return bad_length(), false;
                mdd_pending_ = v.u8(off + 4) == 1;
                mdd_drda_ = v.u8(off + 6);
                break;
            case kSda: {
                if (ll != 12) return bad_length(), false;
                const std::uint8_t drda = mdd_pending_ ? mdd_drda_ : id;
                mdd_pending_ = false;
                LateId late{id, drda, v.u8(off + 3), v.be32(off + 4)};
                bool replaced = false;
                for (LateId& l : late_) {
                    if (l.lid == id) {
                        l = late;
                        replaced = true;
                    }
                }
                if (!replaced) late_.push_back(late);  // at most 256: one per id
                break;
            }
            case kNgda:
            case kCpt:
                if ((ll - 3) % 3 != 0) return bad_length(), false;
                for (std::size_t e = off + 3; e < off + ll; e += 3) add_entry(v.u8(e), v.be16(e + 1));
                break;
            case kRlo:
                if ((ll - 3) % 3 != 0) return bad_length(), false;
                if (id == 0xE0) d_.has_sqlca = true;
                if (id == 0xF0 || id == 0xE4) complete_ = true;
                break;
            default:
                return bad_length(), false;
        }
        off += ll;
    }
    offset_ += v.size();
    if (entries_ > kMaxColumns) {
        fail(std::to_string(entries_) + " columns");
        return false;
    }
    return true;
}

Descriptor DescriptorBuilder::take() {
    Descriptor d = std::move(d_);
    reset();
    return d;
}

void DescriptorBuilder::take_into(Descriptor& out) {
    std::swap(out, d_);
    reset();
}

Descriptor apply_override(const Descriptor& base, const Descriptor& ov) {
    Descriptor d = base;
    const std::size_t n = base.columns.size() < ov.columns.size() ? base.columns.size() : ov.columns.size();
    for (std::size_t i = 0; i < n; ++i) {
        Column c = ov.columns[i];
        if (c.code == 0) continue;
        c.flags |= kOutovr;
        if (c.ccsid_ref != 0) {
            d.ccsids.push_back(ov.ccsids[c.ccsid_ref - 1]);
            c.ccsid_ref = static_cast<std::uint16_t>(d.ccsids.size());
        }
        d.columns[i] = c;
    }
    return d;
}

}  // namespace drda::rows
