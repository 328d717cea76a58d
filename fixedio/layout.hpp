// Record layouts: the edit descriptors of the reports (Iw, Fw.d, nX, Aw, literals, "/",
// repeated groups) interpreted by one small writer, so that report code reads like the layout.
//
//   static const fixedio::Layout row("3X I2 6X 2*(F7.3 4X)");
//   out << row.format({item, a0, a1});
//
// Items are separated by blanks or commas. A value list longer than the layout continues on a
// new line from the layout's last top-level repeated group (or from its start when it has none),
// the way Fortran format reversion works. Writing stops at the first data descriptor that has
// no value left; literals before it are still written. Blanks from nX are written only when
// something follows them on the same line, so lines carry no trailing blanks from X.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fixedio {

// One value handed to a layout: an integer, a real or a text; or an undefined value, which
// fills its field with asterisks whatever the descriptor (a missing response, say).
class Value {
  public:
    enum class Kind { Integer, Real, Text, Undefined };

    static Value undefined() {
        Value v(0);
        v.kind_ = Kind::Undefined;
        return v;
    }

    Value(int v) : kind_(Kind::Integer), integer_(v) {}
    Value(long v) : kind_(Kind::Integer), integer_(v) {}
    Value(long long v) : kind_(Kind::Integer), integer_(v) {}
    Value(unsigned v) : kind_(Kind::Integer), integer_(v) {}
    Value(unsigned long v) : kind_(Kind::Integer), integer_(static_cast<long long>(v)) {}
    Value(double v) : kind_(Kind::Real), real_(v) {}
    Value(const char* v) : kind_(Kind::Text), text_(v) {}
    Value(std::string v) : kind_(Kind::Text), text_(std::move(v)) {}
    Value(std::string_view v) : kind_(Kind::Text), text_(v) {}

    Kind kind() const { return kind_; }
    long long integer() const { return integer_; }
    double real() const { return kind_ == Kind::Integer ? static_cast<double>(integer_) : real_; }
    const std::string& text() const { return text_; }

  private:
    Kind kind_;
    long long integer_ = 0;
    double real_ = 0.0;
    std::string text_;
};

// Field formatters, also usable on their own. A defined value that does not fit its field
// widens the field just enough (the line gets longer); a value that fits keeps the exact
// layout. Only undefined values (a non-finite real) fill the field with asterisks.
std::string formatI(long long value, int width);
std::string formatF(double value, int width, int decimals);
std::string formatA(std::string_view text, int width); // width < 0: the text as it is

class Layout {
  public:
    // Throws std::invalid_argument when the layout text is malformed.
    explicit Layout(std::string_view text);

    // The formatted lines, each ending with '\n'. Throws std::invalid_argument when a value
    // does not suit its descriptor (a text for Iw, an integer-less real for Iw, ...).
    std::string format(std::span<const Value> values) const;
    std::string format(std::initializer_list<Value> values) const {
        return format(std::span<const Value>(values.begin(), values.size()));
    }

    struct Item {
        enum class Type { Integer, Real, Text, Skip, Literal, Slash, Group };
        Type type = Type::Literal;
        int width = -1;   // field width (Text: -1 = natural width); Skip: blanks
        int decimals = 0; // Real only
        int repeat = 1;   // Group and data descriptors
        std::string literal;
        std::vector<Item> items; // Group only
    };

  private:
    std::vector<Item> items_;
    int reversion_ = 0; // index of the top-level item where a continuation line starts
};

// Free-format line: one leading blank, then the items separated by one blank; reals are
// written with up to ten significant digits.
std::string freeLine(std::initializer_list<Value> items);

} // namespace fixedio
