#include "expander/trace_format.h"

#include "expander/terminal_text.h"

namespace {

constexpr uint32_t kMaxField = 99;

enum class Length { None, Char, Short };

struct Conversion {
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
bool parseConversion(std::string_view format, size_t* pos, Conversion* conv) {
    size_t p = *pos;
    for (; p < format.size(); ++p) {
        const char c = format[p];
        if (c == '-')
            conv->left = true;
        else if (c == '+')
            conv->plus = true;
        else if (c == ' ')
            conv->space = true;
        else if (c == '#')
            conv->alternate = true;
        else if (c == '0')
            conv->zero = true;
        else
            break;
    }
    bool ok = readField(format, &p, &conv->width);
    if (ok && p < format.size() && format[p] == '.') {
        ++p;
        uint32_t precision = 0;
        ok = readField(format, &p, &precision);
        conv->precision = static_cast<int32_t>(precision);
    }
    if (ok && p < format.size()) {
        const char c = format[p];
        if (c == 'h') {
            ++p;
            conv->length = Length::Short;
            if (p < format.size() && format[p] == 'h') {
                ++p;
                conv->length = Length::Char;
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
                conv->conversion = format[p];
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
void appendField(const Conversion& conv, std::string_view prefix, std::string_view digits,
                 bool zeroPad, std::string* out) {
    const size_t used = prefix.size() + digits.size();
    const uint32_t fill = conv.width > used ? static_cast<uint32_t>(conv.width - used) : 0;
    if (conv.left) {
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

// Writes the digits of v in a constant base backwards, ending just before
// end; returns where they start. A constant base needs no division
// instruction.
template <uint32_t Base>
char* digitsBefore(uint32_t v, const char* alphabet, char* end) {
    do {
        *--end = alphabet[v % Base];
        v /= Base;
    } while (v != 0);
    return end;
}

// "00" to "99": decimal digits two at a time halve the divisions.
struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs kDigitPairs;

char* decimalBefore(uint32_t v, char* end) {
    while (v >= 100) {
        const uint32_t pair = v % 100;
        v /= 100;
        end -= 2;
        end[0] = kDigitPairs.text[2 * pair];
        end[1] = kDigitPairs.text[2 * pair + 1];
    }
    if (v >= 10) {
        end -= 2;
        end[0] = kDigitPairs.text[2 * v];
        end[1] = kDigitPairs.text[2 * v + 1];
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

char* digitsBefore(uint32_t v, uint32_t base, bool upper, char* end) {
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    switch (base) {
        case 8:
            return digitsBefore<8>(v, alphabet, end);
        case 16:
            return digitsBefore<16>(v, alphabet, end);
        default:
            return decimalBefore(v, end);
    }
}

void formatInteger(const Conversion& conv, uint32_t raw, std::string* out) {
    const char c = conv.conversion;
    const bool isSigned = c == 'd' || c == 'i';
    uint32_t magnitude = 0;
    bool negative = false;
    if (isSigned) {
        int32_t v = static_cast<int32_t>(raw);
        if (conv.length == Length::Char)
            v = static_cast<int8_t>(raw);
        else if (conv.length == Length::Short)
            v = static_cast<int16_t>(raw);
        negative = v < 0;
        magnitude = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    } else {
        magnitude = raw;
        if (conv.length == Length::Char)
            magnitude = static_cast<uint8_t>(raw);
        else if (conv.length == Length::Short)
            magnitude = static_cast<uint16_t>(raw);
    }
    const uint32_t base = c == 'o' ? 8 : (c == 'x' || c == 'X') ? 16 : 10;

    // At most 11 digits, preceded by up to 99 zeros of precision.
    char digits[kMaxField + 16];
    char* const end = digits + sizeof digits;
    char* first = end;
    if (!(conv.precision == 0 && magnitude == 0))
        first = digitsBefore(magnitude, base, c == 'X', end);
    while (conv.precision > 0 && end - first < conv.precision)
        *--first = '0';
    if (c == 'o' && conv.alternate && (first == end || *first != '0'))
        *--first = '0';

    char prefix[3] = {};
    size_t prefixLength = 0;
    if (isSigned && (negative || conv.plus || conv.space))
        prefix[prefixLength++] = negative ? '-' : conv.plus ? '+' : ' ';
    if ((c == 'x' || c == 'X') && conv.alternate && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = c;
    }
    appendField(conv, std::string_view(prefix, prefixLength),
                std::string_view(first, static_cast<size_t>(end - first)),
                conv.zero && conv.precision < 0, out);
}

void formatValue(const Conversion& conv, uint32_t value, std::string* out) {
    switch (conv.conversion) {
        case 'c': {
            const char ch =
                value % 256 >= 0x20 && value % 256 <= 0x7E ? static_cast<char>(value % 256) : '.';
            appendField(conv, {}, std::string_view(&ch, 1), false, out);
            return;
        }
        case 'p':
        case 's': {
            // Expander addresses, never host strings.
            char hex[12];
            char* const end = hex + sizeof hex;
            const char* first = digitsBefore(value, 16, false, end);
            appendField(conv, "0x", std::string_view(first, static_cast<size_t>(end - first)),
                        false, out);
            return;
        }
        default:
            formatInteger(conv, value, out);
    }
}

// Literal text between conversions: the safe variant copies runs up to the
// next '%'; the checking one also turns unsafe bytes into '.'.
template <bool Safe>
void expandFormat(std::string_view format, const uint32_t* args, size_t argCount,
                  std::string* out) {
    size_t used = 0;
    size_t pos = 0;
    while (pos < format.size()) {
        size_t run = pos;
        if (Safe) {
            run = format.find('%', pos);
            if (run == std::string_view::npos)
                run = format.size();
        } else {
            while (run < format.size() && format[run] != '%' &&
                   isTerminalSafe(static_cast<unsigned char>(format[run]))) {
                ++run;
            }
        }
        out->append(format.data() + pos, run - pos);
        pos = run;
        if (pos == format.size())
            return;
        if (format[pos] != '%') {
            out->push_back('.');
            ++pos;
            continue;
        }
        const size_t percent = pos++;
        if (pos < format.size() && format[pos] == '%') {
            out->push_back('%');
            ++pos;
            continue;
        }
        Conversion conv;
        size_t end = pos;
        const bool valid = parseConversion(format, &end, &conv);
        if (valid && used < argCount) {
            formatValue(conv, args[used++], out);
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

}  // namespace

void expandTraceFormat(std::string_view format, const uint32_t* args, size_t argCount,
                       std::string* out) {
    expandFormat<false>(format, args, argCount, out);
}

void expandSafeTraceFormat(std::string_view format, const uint32_t* args, size_t argCount,
                           std::string* out) {
    expandFormat<true>(format, args, argCount, out);
}
