// Division map: the settings cells; the digit step (exact scaling of a
// double, a 128-bit fast path and a big-integer path for long decimal parts);
// FormatMask's two passes and overflow; FormatAmount's derived mask;
// IsBadNumberText.
#include "format/masks.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

#include "format/currency.h"
#include "format/user_cells.h"

namespace format {

namespace {

__extension__ typedef unsigned __int128 U128;

// ---- Settings cells ------------------------------------------------------

std::array<char, 1> g_decimal_cell{};
std::array<char, 1> g_thousands_cell{};

// ---- Digit step ----------------------------------------------------------

// Extended precision keeps 64 significant bits and overflows at 2^16384.
constexpr int kExtendedBits = 64;
constexpr int kExtendedMaxExponent = 16384;

int BitLength(U128 x) {
  const uint64_t hi = static_cast<uint64_t>(x >> 64);
  if (hi != 0) return 128 - std::countl_zero(hi);
  return 64 - std::countl_zero(static_cast<uint64_t>(x));
}

// x / 2^shift rounded to the nearest whole number, ties to even.
// REQUIRES: 1 <= shift <= 127.
U128 ShiftRoundEven(U128 x, int shift) {
  const U128 q = x >> shift;
  const U128 rem = x - (q << shift);
  const U128 half = U128{1} << (shift - 1);
  return (rem > half || (rem == half && (q & 1) != 0)) ? q + 1 : q;
}

constexpr std::array<uint64_t, 20> kPow10 = {
    1ull,
    10ull,
    100ull,
    1000ull,
    10000ull,
    100000ull,
    1000000ull,
    10000000ull,
    100000000ull,
    1000000000ull,
    10000000000ull,
    100000000000ull,
    1000000000000ull,
    10000000000000ull,
    100000000000000ull,
    1000000000000000ull,
    10000000000000000ull,
    100000000000000000ull,
    1000000000000000000ull,
    10000000000000000000ull,
};

void AppendDecimal(uint64_t v, std::string* out) {
  char buf[20];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out->push_back(buf[--n]);
}

// The decimal digits of x without leading zeros; the empty text for 0.
std::string U128Decimal(U128 x) {
  std::string out;
  if (x == 0) return out;
  if (x <= UINT64_MAX) {
    AppendDecimal(static_cast<uint64_t>(x), &out);
    return out;
  }
  // At most 39 digits: two cuts at 10^19 leave three 64-bit pieces.
  const U128 base = kPow10[19];
  const uint64_t low = static_cast<uint64_t>(x % base);
  x /= base;
  const uint64_t mid = static_cast<uint64_t>(x % base);
  const uint64_t high = static_cast<uint64_t>(x / base);
  auto append_padded = [&out](uint64_t v) {
    std::string piece;
    AppendDecimal(v, &piece);
    out.append(19 - piece.size(), '0');
    out += piece;
  };
  if (high != 0) {
    AppendDecimal(high, &out);
    append_padded(mid);
  } else {
    AppendDecimal(mid, &out);
  }
  append_padded(low);
  return out;
}

// An unsigned integer of any size, 32-bit words, least significant first.
// Only the long decimal parts of unusual masks come here.
class BigUInt {
 public:
  explicit BigUInt(U128 v) {
    while (v != 0) {
      words_.push_back(static_cast<uint32_t>(v));
      v >>= 32;
    }
  }

  void MultiplySmall(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& w : words_) {
      const uint64_t t = static_cast<uint64_t>(w) * factor + carry;
      w = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) words_.push_back(static_cast<uint32_t>(carry));
  }

  void MultiplyPow5(int n) {
    constexpr uint32_t kPow5_13 = 1220703125u;  // the largest power of 5 in 32 bits
    for (; n >= 13; n -= 13) MultiplySmall(kPow5_13);
    uint32_t rest = 1;
    for (; n > 0; --n) rest *= 5;
    if (rest != 1) MultiplySmall(rest);
  }

  void ShiftLeft(int n) {
    const int word_shift = n / 32;
    const int bit_shift = n % 32;
    if (bit_shift != 0) {
      uint32_t carry = 0;
      for (uint32_t& w : words_) {
        const uint32_t next = w >> (32 - bit_shift);
        w = (w << bit_shift) | carry;
        carry = next;
      }
      if (carry != 0) words_.push_back(carry);
    }
    words_.insert(words_.begin(), static_cast<size_t>(word_shift), 0u);
  }

  int BitLength() const {
    if (words_.empty()) return 0;
    return static_cast<int>(32 * words_.size()) - std::countl_zero(words_.back());
  }

  bool Bit(int i) const {
    const size_t w = static_cast<size_t>(i) / 32;
    return w < words_.size() && ((words_[w] >> (i % 32)) & 1u) != 0;
  }

  // True when any bit below position i is set.
  bool AnyBelow(int i) const {
    const size_t full = static_cast<size_t>(i) / 32;
    for (size_t w = 0; w < full && w < words_.size(); ++w) {
      if (words_[w] != 0) return true;
    }
    const int part = i % 32;
    return part != 0 && full < words_.size() && (words_[full] & ((1u << part) - 1u)) != 0;
  }

  // The 64 bits from position from upwards.
  uint64_t Bits64(int from) const {
    uint64_t v = 0;
    for (int b = 63; b >= 0; --b) v = (v << 1) | (Bit(from + b) ? 1u : 0u);
    return v;
  }

  // Decimal digits without leading zeros; consumes the value.
  std::string TakeDecimal() {
    std::vector<uint32_t> chunks;  // base 10^9, least significant first
    while (!words_.empty()) {
      uint64_t rem = 0;
      for (size_t k = words_.size(); k-- > 0;) {
        const uint64_t cur = (rem << 32) | words_[k];
        words_[k] = static_cast<uint32_t>(cur / 1000000000u);
        rem = cur % 1000000000u;
      }
      while (!words_.empty() && words_.back() == 0) words_.pop_back();
      chunks.push_back(static_cast<uint32_t>(rem));
    }
    std::string out;
    for (size_t k = chunks.size(); k-- > 0;) {
      std::string piece;
      AppendDecimal(chunks[k], &piece);
      if (k + 1 != chunks.size()) out.append(9 - piece.size(), '0');
      out += piece;
    }
    return out;
  }

 private:
  std::vector<uint32_t> words_;
};

}  // namespace

bool ScaledDigits(double v, int decimals, std::string* digits) {
  digits->clear();
  if (!std::isfinite(v)) return false;
  const uint64_t bits = std::bit_cast<uint64_t>(v);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  int e = -1074;
  if (biased != 0) {
    m |= uint64_t{1} << 52;
    e = biased - 1075;
  }
  if (m == 0) return true;

  // |v| x 10^decimals = m x 10^decimals x 2^e exactly; p x 2^e is that
  // product rounded to the 64-bit significand (p < 2^65 afterwards).
  U128 p;
  if (decimals < static_cast<int>(kPow10.size())) {
    p = static_cast<U128>(m) * kPow10[static_cast<size_t>(decimals)];
    const int n = BitLength(p);
    if (n > kExtendedBits) {
      p = ShiftRoundEven(p, n - kExtendedBits);
      e += n - kExtendedBits;
    }
  } else {
    // 10^k = 5^k x 2^k: the powers of five in a big integer, the twos in e.
    BigUInt big(m);
    big.MultiplyPow5(decimals);
    e += decimals;
    const int n = big.BitLength();
    if (n > kExtendedBits) {
      const int shift = n - kExtendedBits;
      const uint64_t q = big.Bits64(shift);
      const bool round = big.Bit(shift - 1);
      const bool sticky = big.AnyBelow(shift - 1);
      p = q;
      if (round && (sticky || (q & 1) != 0)) ++p;
      e += shift;
    } else {
      p = big.Bits64(0);
    }
  }

  const int n = BitLength(p);
  if (n + e > kExtendedMaxExponent) return false;
  if (e >= 0) {
    if (n + e <= 128) {
      *digits = U128Decimal(p << e);
    } else {
      BigUInt big(p);
      big.ShiftLeft(e);
      *digits = big.TakeDecimal();
    }
    return true;
  }
  // p < 2^65, so from 2^-128 on the value is below one half.
  if (-e < 128) *digits = U128Decimal(ShiftRoundEven(p, -e));
  return true;
}

NumberChars LoadedNumberChars() {
  // Every amount of a statement asks for them: once loaded they are taken
  // from the cells without asking the loader.
  if (g_decimal_cell[0] != '\0' && g_thousands_cell[0] != '\0') {
    return NumberChars{g_decimal_cell[0], g_thousands_cell[0]};
  }
  LoadUserCell(g_decimal_cell, "DecCaracter", "'");
  LoadUserCell(g_thousands_cell, "MilCaracter", ".");
  return NumberChars{g_decimal_cell[0], g_thousands_cell[0]};
}

void ResetFormatSettingsForTesting() {
  g_decimal_cell.fill('\0');
  g_thousands_cell.fill('\0');
}

std::string FormatMask(const std::string& mask, double v) {
  return FormatMask(mask, v, LoadedNumberChars());
}

namespace {

// What the passes below read of a mask before its digits: whether it has a
// sign position, the digit and sign positions after the first "."
// (dec_span) and the digit positions right after it (decimals).
struct MaskLayout {
  bool has_sign = false;
  long dec_span = 0;
  long decimals = 0;
};

MaskLayout LayoutOf(const std::string& mask) {
  MaskLayout layout;
  layout.has_sign = mask.find_first_of("-+") != std::string::npos;
  const size_t point = mask.find('.');
  if (point != std::string::npos && point + 1 < mask.size()) {
    for (size_t k = point + 1; k < mask.size(); ++k) {
      if (std::string_view("9Zz*-+").find(mask[k]) != std::string_view::npos) ++layout.dec_span;
    }
    if (layout.dec_span > 0) {
      for (size_t k = point + 1;
           k < mask.size() && std::string_view("9Zz*").find(mask[k]) != std::string_view::npos;
           ++k) {
        ++layout.decimals;
      }
    }
  }
  return layout;
}

// Writes the digits r of |v| x 10^decimals (as ScaledDigits gives them)
// through a mask that is not empty; negative and zero tell v's sign.
std::string FillMask(const std::string& mask, const MaskLayout& layout, std::string_view r,
                     bool negative, bool zero, const NumberChars& chars);

}  // namespace

std::string FormatMask(const std::string& mask, double v, const NumberChars& chars) {
  if (mask.empty()) return std::string();
  if (!std::isfinite(v)) return std::string(mask.size(), '!');
  const MaskLayout layout = LayoutOf(mask);
  std::string r;
  if (!ScaledDigits(v, static_cast<int>(layout.decimals), &r)) {
    return std::string(mask.size(), '!');
  }
  return FillMask(mask, layout, r, v < 0, v == 0, chars);
}

namespace {

std::string FillMask(const std::string& mask, const MaskLayout& layout, std::string_view r,
                     bool negative, bool zero, const NumberChars& chars) {
  const long len = static_cast<long>(mask.size());
  const bool has_sign = layout.has_sign;
  long dec_span = layout.dec_span;
  const long decimals = layout.decimals;
  const long r_len = static_cast<long>(r.size());
  long last_nonzero = 0;  // 1-based index of the last digit other than 0
  for (long k = r_len; k >= 1; --k) {
    if (r[static_cast<size_t>(k - 1)] != '0') {
      last_nonzero = k;
      break;
    }
  }
  auto digit_at = [&](long k) -> char {
    return (k >= 1 && k <= r_len) ? r[static_cast<size_t>(k - 1)] : '\0';
  };

  std::string out = mask;
  // The filler of the last digit position written ('\0' for none) and
  // whether that position showed the filler instead of a digit.
  char filler = '\0';
  bool exhausted = false;

  // First pass: digits from the right, while digits remain.
  long j = dec_span + r_len - decimals;
  long p = len;
  for (; p >= 1 && j >= 1; --p) {
    char& o = out[static_cast<size_t>(p - 1)];
    const bool in_decimals = p >= len - dec_span;
    switch (o) {
      case '9': {
        const char g = digit_at(j--);
        o = g != '\0' ? g : '0';
        filler = '\0';
        exhausted = false;
        break;
      }
      case 'Z':
      case 'z': {
        const char g = digit_at(j);
        if (!in_decimals) {
          exhausted = g == '\0';
          o = exhausted ? ' ' : g;
        } else if (dec_span == 0 || j <= last_nonzero) {
          o = g != '\0' ? g : '0';
          exhausted = false;
        } else {
          o = ' ';
          exhausted = true;
        }
        filler = ' ';
        --j;
        break;
      }
      case '*': {
        const char g = digit_at(j--);
        exhausted = g == '\0';
        o = exhausted ? '*' : g;
        filler = '*';
        break;
      }
      case '.':
        o = exhausted ? filler : chars.decimal;
        dec_span = 0;
        break;
      case ',':
        o = chars.thousands;
        break;
      case '-':
        o = negative ? '-' : ' ';
        if (dec_span > 0) --j;
        break;
      case '+':
        o = negative ? '-' : '+';
        if (dec_span > 0) --j;
        break;
      default:
        break;
    }
  }

  // Overflow: the plain number, or "!" when not even its integer part fits.
  if (j != 0 || (!has_sign && negative && p == 0)) {
    const long int_digits = r_len > decimals ? r_len - decimals : 0;
    if (len < int_digits + (negative ? 1 : 0)) return std::string(mask.size(), '!');
    std::string plain = negative ? "-" : "";
    plain.append(r, 0, static_cast<size_t>(int_digits));
    if (decimals > 0 && r_len > 0) {
      plain += chars.decimal;
      if (r_len < decimals) plain.append(static_cast<size_t>(decimals - r_len), '0');
      plain.append(r, static_cast<size_t>(int_digits), std::string::npos);
    }
    if (static_cast<long>(plain.size()) >= len) return plain.substr(0, mask.size());
    return std::string(mask.size() - plain.size(), ' ') + plain;
  }

  // Second pass: the positions left of the last one written. A number whose
  // mask has no sign position puts its minus at the first suitable one.
  for (; p >= 1; --p) {
    char& o = out[static_cast<size_t>(p - 1)];
    const bool in_integer = p < len - dec_span;
    const bool place_minus = negative && !has_sign;
    switch (o) {
      case '9':
        if (place_minus && in_integer) {
          o = '-';
          negative = false;
        } else {
          o = '0';
        }
        filler = '\0';
        exhausted = false;
        break;
      case 'Z':
      case 'z':
        if (place_minus) {
          o = '-';
          negative = false;
        } else if (in_integer || zero) {
          o = ' ';
          filler = ' ';
          exhausted = true;
        } else {
          o = '0';
          filler = ' ';
          exhausted = false;
        }
        break;
      case '*':
        if (place_minus) {
          o = '-';
          negative = false;
          exhausted = false;
        } else {
          exhausted = in_integer;
          o = in_integer ? '*' : '0';
        }
        filler = '*';
        break;
      case ',':
        if (place_minus) {
          o = '-';
          negative = false;
        } else {
          o = filler != '\0' ? filler : chars.thousands;
        }
        break;
      case '.':
        o = exhausted ? filler : chars.decimal;
        dec_span = 0;
        break;
      case '-':
        o = negative ? '-' : ' ';
        break;
      case '+':
        o = negative ? '-' : '+';
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace

std::string DeriveAmountMask(const std::string& mask, double cents, bool pesetas) {
  const size_t len = mask.size();
  int count = 0;
  bool after_point = false;
  bool show_digits = cents != 0;
  bool thousands = false;
  char lead_sign = '\0';
  char trail_sign = '\0';
  char fill = 'Z';
  for (size_t i = 0; i < len; ++i) {
    const char c = mask[i];
    switch (c) {
      case '.':
        count = 1;
        after_point = true;
        break;
      case '9':
        if (after_point) {
          ++count;
        } else {
          show_digits = true;
        }
        break;
      case ',':
        thousands = true;
        break;
      case '-':
      case '+':
        (i == 0 ? lead_sign : trail_sign) = c;
        break;
      case '*':
      case 'Z':
        fill = c;
        break;
      default:
        break;
    }
  }
  auto keep_last = [len](std::string* s) {
    if (s->size() > len) s->erase(0, s->size() - len);
  };

  std::string out(len, fill);
  if (show_digits && len > 0) out.back() = '9';
  if (thousands) {
    for (long p = static_cast<long>(len) - 3; p >= 1; p -= 4) {
      out.insert(static_cast<size_t>(p), 1, ',');
      keep_last(&out);
    }
  }
  if (!pesetas) count += count == 0 ? 3 : 2;
  if (count != 0) {
    out += '.';
    out.append(static_cast<size_t>(count - 1), show_digits ? '9' : 'Z');
    keep_last(&out);
  }
  if (trail_sign != '\0') {
    out += trail_sign;
    keep_last(&out);
  }
  if (lead_sign != '\0' && !out.empty()) out[0] = lead_sign;
  return out;
}

namespace {

// The masks FormatAmount derived last, for one mask in one currency: a
// statement formats every amount through the same mask, so the derivation
// and the mask's layout are worked out once and not on every call. The
// derived mask depends on the amount only through whether it is zero.
struct DerivedAmountMasks {
  bool valid = false;
  std::string mask;
  bool pesetas = false;
  std::array<std::string, 2> derived;  // [0] for a zero amount, [1] for any other
  std::array<MaskLayout, 2> layout;
};

DerivedAmountMasks& AmountMasksFor(const std::string& mask, bool pesetas) {
  static DerivedAmountMasks masks;
  if (!masks.valid || masks.pesetas != pesetas || masks.mask != mask) {
    masks.mask = mask;
    masks.pesetas = pesetas;
    for (int nonzero = 0; nonzero < 2; ++nonzero) {
      masks.derived[nonzero] = DeriveAmountMask(mask, nonzero, pesetas);
      masks.layout[nonzero] = LayoutOf(masks.derived[nonzero]);
    }
    masks.valid = true;
  }
  return masks;
}

// Whole cents below 2^52 in magnitude: for these, cents / 100 rounded to a
// double and scaled back by 100 (exactly, as ScaledDigits does with so few
// bits) lies within |cents| x 2^-53 < 1/2 of cents, so the digit step gives
// the digits of cents itself, which are written here without it.
constexpr double kExactCentsLimit = 4503599627370496.0;  // 2^52

}  // namespace

std::string FormatAmount(const std::string& mask, double cents) {
  // 166.386 as the single-precision constant the conversion has always used.
  constexpr double kPesetasPerEuro = 166.3860015869140625;
  static_assert(kPesetasPerEuro == static_cast<double>(166.386f));
  const bool pesetas = Currency().current == "P";
  const DerivedAmountMasks& masks = AmountMasksFor(mask, pesetas);
  const size_t which = cents != 0 ? 1 : 0;
  const std::string& derived = masks.derived[which];
  const MaskLayout& layout = masks.layout[which];
  if (!pesetas && !derived.empty() && layout.decimals == 2 && std::fabs(cents) < kExactCentsLimit &&
      cents == std::trunc(cents)) {
    char digits[20];
    size_t n = 0;
    for (uint64_t c = static_cast<uint64_t>(std::fabs(cents)); c != 0; c /= 10) {
      digits[sizeof digits - ++n] = static_cast<char>('0' + c % 10);
    }
    return FillMask(derived, layout, std::string_view(digits + sizeof digits - n, n), cents < 0,
                    cents == 0, LoadedNumberChars());
  }
  const double value = pesetas ? cents / 100 * kPesetasPerEuro : cents / 100;
  return FormatMask(derived, value);
}

platform::Bool16 IsBadNumberText(const std::string& text, const std::string& mask) {
  bool point_closed = mask.find('.') == std::string::npos;
  bool sign_closed = mask.find_first_of("-+") == std::string::npos;
  bool bad = false;
  for (char c : text) {
    if (c == '+' || c == '-') {
      if (sign_closed) bad = true;
      sign_closed = true;
    } else if (c == '.') {
      if (point_closed) bad = true;
      point_closed = true;
      sign_closed = true;
    } else if (c >= '0' && c <= '9') {
      sign_closed = true;
    } else if (c != ' ') {
      bad = true;
    }
  }
  return platform::ToBool16(bad);
}

}  // namespace format
