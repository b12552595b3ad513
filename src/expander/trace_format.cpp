#include "expander/trace_format.h"

#include "expander/terminal_text.h"

namespace {

constexpr uint32_t kMaxField = 99;

enum class Length { None, Char, Short };

struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    uint32_t width = 0;
    int32_t precision = -1;  // -1: not given
    Length length = Length::None;
    char conversion = 0;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a field of at most 99; false when it is wider. *pos stops at the
// first character that does not belong to it.
bool readField(std::string_view format, size_t* pos, uint32_t* value) {
    uint32_t v = 0;
    while (*pos < format.size() && isDigit(format[*pos])) {
        v = v * 10 + static_cast<uint32_t>(format[*pos] - '0');
        if (v > kMaxField)
            return false;
        ++*pos;
    }
    *value = v;
    return true;
}

// Parses the conversion that starts after a '%' at *pos. On success *pos is
// past the conversion character; on failure *pos is at the character that
// made it invalid (or the end).
bool parseSpec(std::string_view format, size_t* pos, Spec* spec) {
    size_t p = *pos;
    for (; p < format.size(); ++p) {
        const char c = format[p];
        if (c == '-')
            spec->left = true;
        else if (c == '+')
            spec->plus = true;
        else if (c == ' ')
            spec->space = true;
        else if (c == '#')
            spec->alternate = true;
        else if (c == '0')
            spec->zero = true;
        else
            break;
    }
    bool ok = readField(format, &p, &spec->width);
    if (ok && p < format.size() && format[p] == '.') {
        ++p;
        uint32_t precision = 0;
        ok = readField(format, &p, &precision);
        spec->precision = static_cast<int32_t>(precision);
    }
    if (ok && p < format.size()) {
        const char c = format[p];
        if (c == 'h') {
            ++p;
            spec->length = Length::Short;
            if (p < format.size() && format[p] == 'h') {
                ++p;
                spec->length = Length::Char;
            }
        } else if (c == 'l') {
            ++p;
            if (p < format.size() && format[p] == 'l')
                ++p;
        } else if (c == 'j' || c == 'z' || c == 't') {
            ++p;
        }
    }
    if (ok && p < format.size()) {
        switch (format[p]) {
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X':
            case 'c':
            case 'p':
            case 's':
                spec->conversion = format[p];
                *pos = p + 1;
                return true;
            default:
                break;
        }
    }
    *pos = p;
    return false;
}

void pad(std::string* out, uint32_t count, char c) {
    out->append(count, c);
}

// Appends body with the field width applied (spaces; zeros go between the
// prefix and the digits when asked for).
void appendField(const Spec& spec, std::string_view prefix, std::string_view digits, bool zeroPad,
                 std::string* out) {
    const size_t used = prefix.size() + digits.size();
    const uint32_t fill = spec.width > used ? static_cast<uint32_t>(spec.width - used) : 0;
    if (spec.left) {
        out->append(prefix);
        out->append(digits);
        pad(out, fill, ' ');
    } else if (zeroPad) {
        out->append(prefix);
        pad(out, fill, '0');
        out->append(digits);
    } else {
        pad(out, fill, ' ');
        out->append(prefix);
        out->append(digits);
    }
}

// Digits of v in base 8, 10 or 16, most significant first, into buf (at
// least 12 bytes); returns the count.
size_t toDigits(uint32_t v, uint32_t base, bool upper, char* buf) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[12];
    size_t n = 0;
    do {
        reversed[n++] = digits[v % base];
        v /= base;
    } while (v != 0);
    for (size_t i = 0; i < n; ++i)
        buf[i] = reversed[n - 1 - i];
    return n;
}

void formatInteger(const Spec& spec, uint32_t raw, std::string* out) {
    const char c = spec.conversion;
    const bool isSigned = c == 'd' || c == 'i';
    uint32_t magnitude = 0;
    bool negative = false;
    if (isSigned) {
        int32_t v = static_cast<int32_t>(raw);
        if (spec.length == Length::Char)
            v = static_cast<int8_t>(raw);
        else if (spec.length == Length::Short)
            v = static_cast<int16_t>(raw);
        negative = v < 0;
        magnitude = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    } else {
        magnitude = raw;
        if (spec.length == Length::Char)
            magnitude = static_cast<uint8_t>(raw);
        else if (spec.length == Length::Short)
            magnitude = static_cast<uint16_t>(raw);
    }
    const uint32_t base = c == 'o' ? 8 : (c == 'x' || c == 'X') ? 16 : 10;

    // Up to 99 leading zeros of precision, then at most 11 digits.
    char digits[kMaxField + 16];
    size_t count = 0;
    if (!(spec.precision == 0 && magnitude == 0))
        count = toDigits(magnitude, base, c == 'X', digits + kMaxField + 1);
    char* first = digits + kMaxField + 1;
    size_t zeros = spec.precision > 0 && static_cast<size_t>(spec.precision) > count
                       ? static_cast<size_t>(spec.precision) - count
                       : 0;
    if (c == 'o' && spec.alternate && zeros == 0 && (count == 0 || first[0] != '0'))
        zeros = 1;
    first -= zeros;
    for (size_t i = 0; i < zeros; ++i)
        first[i] = '0';
    count += zeros;

    char prefix[3] = {};
    size_t prefixLength = 0;
    if (isSigned && (negative || spec.plus || spec.space))
        prefix[prefixLength++] = negative ? '-' : spec.plus ? '+' : ' ';
    if ((c == 'x' || c == 'X') && spec.alternate && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = c;
    }
    appendField(spec, std::string_view(prefix, prefixLength), std::string_view(first, count),
                spec.zero && spec.precision < 0, out);
}

void formatValue(const Spec& spec, uint32_t value, std::string* out) {
    switch (spec.conversion) {
        case 'c': {
            const char ch =
                value % 256 >= 0x20 && value % 256 <= 0x7E ? static_cast<char>(value % 256) : '.';
            appendField(spec, {}, std::string_view(&ch, 1), false, out);
            return;
        }
        case 'p':
        case 's': {
            // Expander addresses, never host strings.
            char hex[12];
            const size_t n = toDigits(value, 16, false, hex);
            appendField(spec, "0x", std::string_view(hex, n), false, out);
            return;
        }
        default:
            formatInteger(spec, value, out);
    }
}

}  // namespace

void expandTraceFormat(std::string_view format, const uint32_t* args, size_t argCount,
                       std::string* out) {
    size_t used = 0;
    size_t pos = 0;
    while (pos < format.size()) {
        const size_t percent = format.find('%', pos);
        if (percent == std::string_view::npos) {
            appendTerminalText(format.substr(pos), out);
            return;
        }
        appendTerminalText(format.substr(pos, percent - pos), out);
        pos = percent + 1;
        if (pos < format.size() && format[pos] == '%') {
            out->push_back('%');
            ++pos;
            continue;
        }
        Spec spec;
        size_t end = pos;
        const bool valid = parseSpec(format, &end, &spec);
        if (valid && used < argCount) {
            formatValue(spec, args[used++], out);
            pos = end;
            continue;
        }
        // Not ours to expand: show it as it stands, up to the character
        // that made it so.
        const size_t stop = valid || end >= format.size() ? end : end + 1;
        appendTerminalText(format.substr(percent, stop - percent), out);
        pos = stop;
    }
}
