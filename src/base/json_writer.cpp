// Values as text: JavaScript's toString and ToNumber, JSON.stringify, and
// numbers as ECMAScript writes them.

#include "base/text.h"
#include "json_internal.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace vantorel {
namespace jsondoc_detail {

bool isIntegerLexeme(std::string_view lexeme) {
    for (char c : lexeme)
        if (c == '.' || c == 'e' || c == 'E')
            return false;
    return true;
}

double lexemeToDouble(std::string_view lexeme) {
    double value = 0;
    const char* first = lexeme.data();
    const char* last = first + lexeme.size();
    if (first != last && *first == '+')
        ++first;
    const auto res = std::from_chars(first, last, value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large becomes an infinity, too small a zero, as in JavaScript.
        const bool negative = lexeme.starts_with('-');
        const std::size_t e = lexeme.find_first_of("eE");
        const bool tiny =
            e != std::string_view::npos && e + 1 < lexeme.size() && lexeme[e + 1] == '-';
        const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        return negative ? -magnitude : magnitude;
    }
    return value;
}

// ECMAScript Number::toString: the shortest digits that read back as the
// same double, plain decimal from 1e-6 up to 1e21, exponent form outside.
void appendEcmaNumber(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (value == 0) {
        out += '0'; // also for -0
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-Infinity" : "Infinity";
        return;
    }
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    const std::size_t e = sci.find('e');
    char digits[32];
    std::size_t k = 0;
    for (std::size_t i = 0; i < e; ++i)
        if (sci[i] != '.')
            digits[k++] = sci[i];
    int exponent = 0;
    const char* expFirst = sci.data() + e + 1;
    const bool negativeExp = *expFirst == '-';
    if (*expFirst == '+' || *expFirst == '-')
        ++expFirst;
    std::from_chars(expFirst, sci.data() + sci.size(), exponent);
    if (negativeExp)
        exponent = -exponent;
    const int n = exponent + 1;
    const int kk = static_cast<int>(k);
    const std::string_view d(digits, k);
    if (kk <= n && n <= 21) {
        out += d;
        out.append(static_cast<std::size_t>(n - kk), '0');
    } else if (0 < n && n <= 21) {
        out += d.substr(0, static_cast<std::size_t>(n));
        out += '.';
        out += d.substr(static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out += d;
    } else {
        out += d[0];
        if (k > 1) {
            out += '.';
            out += d.substr(1);
        }
        out += 'e';
        out += n - 1 < 0 ? '-' : '+';
        char eb[8];
        const auto er = std::to_chars(eb, eb + sizeof eb, std::abs(n - 1));
        out.append(eb, er.ptr);
    }
}

double numberValue(const Node& n) {
    return (n.flags & kRawNumber) ? lexemeToDouble(n.str()) : n.number;
}

// An integer written in the text keeps its digits, however many: a double
// would round an fs_id past 2^53 to a different item.
void appendNumberText(std::string& out, const Node& n) {
    if (n.flags & kRawNumber) {
        const std::string_view lexeme = n.str();
        if (isIntegerLexeme(lexeme)) {
            out += lexeme == "-0" ? std::string_view("0") : lexeme;
            return;
        }
    }
    appendEcmaNumber(out, numberValue(n));
}

// ECMAScript ToNumber of a string; NaN when it is not a number.
double stringToNumber(std::string_view text) {
    text = trimSpace(text);
    if (text.empty())
        return 0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        double value = 0;
        for (char c : text.substr(2)) {
            const int h = hexDigitValue(c);
            if (h < 0)
                return nan;
            value = value * 16 + h;
        }
        return value;
    }
    std::string_view body = text;
    bool negative = false;
    if (body[0] == '+' || body[0] == '-') {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (body == "Infinity")
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    // StrDecimalLiteral: digits [. digits] | . digits, then an optional exponent.
    std::size_t i = 0;
    std::size_t intDigits = 0, fracDigits = 0;
    while (i < body.size() && isDigit(body[i]))
        ++i, ++intDigits;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && isDigit(body[i]))
            ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0)
        return nan;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < body.size() && isDigit(body[i]))
            ++i, ++expDigits;
        if (expDigits == 0)
            return nan;
    }
    if (i != body.size())
        return nan;
    const double value = lexemeToDouble(body);
    return negative ? -value : value;
}

// The text of a string node, its placeholders turned back into backslashes.
void appendStringText(std::string& out, const Node& v) {
    if ((v.flags & kPlaceholders) && v.str().find(kPlaceholder) != std::string_view::npos)
        out += replaceAll(v.str(), kPlaceholder, "\\");
    else
        out.append(v.text, v.size);
}

void appendPlainText(std::string& out, const Node& v) {
    switch (v.kind) {
    case Kind::String:
        appendStringText(out, v);
        break;
    case Kind::Number:
        appendNumberText(out, v);
        break;
    case Kind::True:
        out += "true";
        break;
    case Kind::False:
        out += "false";
        break;
    case Kind::Object:
        out += "[object Object]";
        break;
    case Kind::Array:
        for (std::uint32_t i = 0; i < v.size; ++i) {
            if (i > 0)
                out += ',';
            appendPlainText(out, v.items[i]);
        }
        break;
    default:
        break; // undefined and null read as nothing inside an array
    }
}

// JavaScript's toString of the value; null, undefined and methods give "".
std::string plainText(const Node& v) {
    std::string out;
    appendPlainText(out, v);
    return out;
}

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    appendJsonStringContent(out, s);
    out += '"';
}

bool isSkippedInJson(const Node& v) {
    return v.kind == Kind::Undefined || v.kind == Kind::Function;
}

// JSON.stringify without replacer or indent: compact.
void appendJson(std::string& out, const Node& v) {
    switch (v.kind) {
    case Kind::Null:
        out += "null";
        break;
    case Kind::True:
        out += "true";
        break;
    case Kind::False:
        out += "false";
        break;
    case Kind::Number:
        if (std::isfinite(numberValue(v)) || ((v.flags & kRawNumber) && isIntegerLexeme(v.str())))
            appendNumberText(out, v);
        else
            out += "null";
        break;
    case Kind::String:
        if (v.flags & kPlaceholders) {
            // A placeholder comes out as a bare backslash, also here.
            std::string quoted;
            appendQuoted(quoted, v.str());
            out += replaceAll(quoted, kPlaceholder, "\\");
        } else {
            appendQuoted(out, v.str());
        }
        break;
    case Kind::Array:
        out += '[';
        for (std::uint32_t i = 0; i < v.size; ++i) {
            if (i > 0)
                out += ',';
            if (isSkippedInJson(v.items[i]))
                out += "null";
            else
                appendJson(out, v.items[i]);
        }
        out += ']';
        break;
    case Kind::Object: {
        out += '{';
        bool first = true;
        for (std::uint32_t i = 0; i < v.size; ++i) {
            const Member& m = v.members[i];
            if (isSkippedInJson(m.value))
                continue;
            if (!first)
                out += ',';
            first = false;
            appendQuoted(out, m.name());
            out += ':';
            appendJson(out, m.value);
        }
        out += '}';
        break;
    }
    default:
        break;
    }
}

// "" for undefined and methods, which JSON.stringify leaves without text.
std::string jsonText(const Node& v) {
    if (isSkippedInJson(v))
        return {};
    std::string out;
    appendJson(out, v);
    return out;
}

double toNumber(const Node& v) {
    double value = 0;
    switch (v.kind) {
    case Kind::Number:
        value = numberValue(v);
        break;
    case Kind::String:
        value = stringToNumber(v.str());
        break;
    case Kind::True:
        value = 1;
        break;
    case Kind::Array:
        value = stringToNumber(plainText(v));
        break;
    default:
        break;
    }
    return std::isnan(value) ? 0 : value;
}

// A copy of `v` into `arena` as JSON would carry it: methods and undefined
// members are left out, undefined array members become null.
Node copyAsJson(const Node& v, Arena& arena) {
    Node out = v;
    switch (v.kind) {
    case Kind::Function:
        return Node{};
    case Kind::String:
        out.text = arena.copy(v.str());
        break;
    case Kind::Number:
        if (v.flags & kRawNumber)
            out.text = arena.copy(v.str());
        else if (!std::isfinite(v.number))
            out = makeKind(Kind::Null);
        break;
    case Kind::Array:
        if (v.size > 0) {
            out.items = arena.allocate<Node>(v.size);
            for (std::uint32_t i = 0; i < v.size; ++i)
                out.items[i] = isSkippedInJson(v.items[i]) ? makeKind(Kind::Null)
                                                           : copyAsJson(v.items[i], arena);
        }
        out.flags = 0;
        break;
    case Kind::Object: {
        out.flags = 0;
        out.size = 0;
        if (v.size == 0)
            break;
        out.members = arena.allocate<Member>(v.size);
        for (std::uint32_t i = 0; i < v.size; ++i) {
            const Member& m = v.members[i];
            if (isSkippedInJson(m.value))
                continue;
            out.members[out.size++] =
                Member{makeString(arena.copy(m.name()), m.key.size), copyAsJson(m.value, arena)};
        }
        break;
    }
    default:
        break;
    }
    return out;
}

void collectValues(const Node& v, bool recursive, std::string& joined, bool& any) {
    auto visit = [&](const Node& member) {
        switch (member.kind) {
        case Kind::Object:
        case Kind::Array:
            if (recursive)
                collectValues(member, recursive, joined, any);
            break;
        case Kind::String:
        case Kind::Number:
        case Kind::True:
        case Kind::False:
            if (any)
                joined += kValueSeparator;
            any = true;
            appendPlainText(joined, member);
            break;
        default:
            break;
        }
    };
    if (v.kind == Kind::Object) {
        for (std::uint32_t i = 0; i < v.size; ++i)
            visit(v.members[i].value);
    } else if (v.kind == Kind::Array) {
        for (std::uint32_t i = 0; i < v.size; ++i)
            visit(v.items[i]);
    }
}

} // namespace jsondoc_detail

using namespace jsondoc_detail;

std::string JsonDocument::toJsonText() const {
    return root_ ? jsonText(root_->value) : std::string();
}

} // namespace vantorel
