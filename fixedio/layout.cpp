#include "layout.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace fixedio {

std::string formatI(long long value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) >= width) return digits;
    return std::string(width - digits.size(), ' ') + digits;
}

std::string formatF(double value, int width, int decimals) {
    if (!std::isfinite(value)) return std::string(width, '*');
    // The C library rounds correctly (exact binary ties to even) and keeps the sign of a
    // negative value that rounds to zero, as the reports want.
    char buffer[400]; // the widest double with up to 60 decimals fits
    std::snprintf(buffer, sizeof buffer, "%.*f", std::min(decimals, 60), value);
    std::string text(buffer);
    if (decimals == 0) text += '.';
    if (static_cast<int>(text.size()) > width && decimals > 0) {
        // Too wide: the zero before the point is optional.
        if (text.starts_with("0."))
            text.erase(0, 1);
        else if (text.starts_with("-0."))
            text.erase(1, 1);
    }
    if (static_cast<int>(text.size()) >= width) return text;
    return std::string(width - text.size(), ' ') + text;
}

std::string formatA(std::string_view text, int width) {
    if (width < 0) return std::string(text);
    if (static_cast<int>(text.size()) >= width) return std::string(text.substr(0, width));
    return std::string(width - text.size(), ' ') + std::string(text);
}

namespace {

using Item = Layout::Item;

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::vector<Item> parseAll() {
        std::vector<Item> items = parseList();
        skipSeparators();
        if (pos_ != text_.size()) fail("unexpected ')'");
        return items;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;

    [[noreturn]] void fail(const std::string& what) const {
        throw std::invalid_argument("layout \"" + std::string(text_) + "\": " + what +
                                    " at column " + std::to_string(pos_ + 1));
    }

    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    void skipSeparators() {
        while (!atEnd() && (peek() == ' ' || peek() == ',' || peek() == '\t')) ++pos_;
    }

    int number() {
        if (!std::isdigit(static_cast<unsigned char>(peek()))) fail("a number expected");
        int n = 0;
        while (std::isdigit(static_cast<unsigned char>(peek()))) {
            n = n * 10 + (peek() - '0');
            if (n > 100000) fail("number too large");
            ++pos_;
        }
        return n;
    }

    std::vector<Item> parseList() {
        std::vector<Item> items;
        for (;;) {
            skipSeparators();
            if (atEnd() || peek() == ')') return items;
            items.push_back(parseItem());
        }
    }

    Item parseItem() {
        char c = peek();
        if (c == '/') {
            ++pos_;
            Item item;
            item.type = Item::Type::Slash;
            return item;
        }
        if (c == '\'' || c == '"') return parseLiteral(c);
        int count = -1;
        if (std::isdigit(static_cast<unsigned char>(c))) {
            count = number();
            if (peek() == '*') ++pos_;
            c = peek();
        }
        if (c == '(') {
            ++pos_;
            Item group;
            group.type = Item::Type::Group;
            group.repeat = count < 0 ? 1 : count;
            group.items = parseList();
            if (peek() != ')') fail("missing ')'");
            ++pos_;
            return group;
        }
        Item item;
        switch (std::toupper(static_cast<unsigned char>(c))) {
        case 'X':
            ++pos_;
            item.type = Item::Type::Skip;
            item.width = count < 0 ? 1 : count;
            return item;
        case 'I':
            ++pos_;
            item.type = Item::Type::Integer;
            item.width = number();
            break;
        case 'F':
            ++pos_;
            item.type = Item::Type::Real;
            item.width = number();
            if (peek() != '.') fail("'.' expected in Fw.d");
            ++pos_;
            item.decimals = number();
            break;
        case 'A':
            ++pos_;
            item.type = Item::Type::Text;
            item.width = std::isdigit(static_cast<unsigned char>(peek())) ? number() : -1;
            break;
        default:
            fail(std::string("unknown descriptor '") + c + "'");
        }
        if (item.width == 0) fail("zero field width");
        item.repeat = count < 0 ? 1 : count;
        return item;
    }

    Item parseLiteral(char quote) {
        ++pos_;
        Item item;
        item.type = Item::Type::Literal;
        for (;;) {
            if (atEnd()) fail("unterminated text");
            char c = text_[pos_++];
            if (c == quote) {
                if (peek() == quote) { // doubled quote stands for itself
                    item.literal += quote;
                    ++pos_;
                    continue;
                }
                return item;
            }
            item.literal += c;
        }
    }
};

bool hasData(const std::vector<Item>& items) {
    for (const Item& item : items) {
        switch (item.type) {
        case Item::Type::Integer:
        case Item::Type::Real:
        case Item::Type::Text:
            return true;
        case Item::Type::Group:
            if (item.repeat > 0 && hasData(item.items)) return true;
            break;
        default:
            break;
        }
    }
    return false;
}

// Walks a layout, writing values until they run out.
class Writer {
  public:
    Writer(std::span<const Value> values) : values_(values) {}

    // Returns false when writing stopped because a data descriptor found no value.
    bool run(const std::vector<Item>& items, std::size_t from = 0) {
        for (std::size_t i = from; i < items.size(); ++i)
            if (!runItem(items[i])) return false;
        return true;
    }

    bool valuesLeft() const { return next_ < values_.size(); }
    void endLine() {
        out_ += line_;
        out_ += '\n';
        line_.clear();
        pendingBlanks_ = 0;
    }
    std::string take() { return std::move(out_); }

  private:
    std::span<const Value> values_;
    std::size_t next_ = 0;
    std::string out_;
    std::string line_;
    int pendingBlanks_ = 0;

    void put(const std::string& text) {
        line_.append(static_cast<std::size_t>(pendingBlanks_), ' ');
        pendingBlanks_ = 0;
        line_ += text;
    }

    bool runItem(const Item& item) {
        switch (item.type) {
        case Item::Type::Literal:
            put(item.literal);
            return true;
        case Item::Type::Skip:
            pendingBlanks_ += item.width;
            return true;
        case Item::Type::Slash:
            endLine();
            return true;
        case Item::Type::Group:
            for (int r = 0; r < item.repeat; ++r)
                if (!run(item.items)) return false;
            return true;
        default:
            for (int r = 0; r < item.repeat; ++r) {
                if (!valuesLeft()) return false;
                put(field(item, values_[next_++]));
            }
            return true;
        }
    }

    static std::string field(const Item& item, const Value& v) {
        if (v.kind() == Value::Kind::Undefined)
            return std::string(static_cast<std::size_t>(std::max(item.width, 1)), '*');
        switch (item.type) {
        case Item::Type::Integer:
            if (v.kind() == Value::Kind::Text) throw std::invalid_argument("text written with Iw");
            if (v.kind() == Value::Kind::Real) {
                double r = v.real();
                // A real that is no integer has no Iw form: it is undefined there.
                if (!std::isfinite(r) || r != std::trunc(r) || std::fabs(r) > 9.0e18)
                    return std::string(static_cast<std::size_t>(item.width), '*');
                return formatI(static_cast<long long>(r), item.width);
            }
            return formatI(v.integer(), item.width);
        case Item::Type::Real:
            if (v.kind() == Value::Kind::Text)
                throw std::invalid_argument("text written with Fw.d");
            return formatF(v.real(), item.width, item.decimals);
        default:
            if (v.kind() != Value::Kind::Text)
                throw std::invalid_argument("number written with Aw");
            return formatA(v.text(), item.width);
        }
    }
};

} // namespace

Layout::Layout(std::string_view text) {
    Parser parser(text);
    items_ = parser.parseAll();
    // A continuation line starts at the last top-level group; without one, at the start.
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].type == Item::Type::Group) reversion_ = static_cast<int>(i);
}

std::string Layout::format(std::span<const Value> values) const {
    Writer writer(values);
    bool completed = writer.run(items_);
    if (completed && writer.valuesLeft()) {
        std::vector<Item> tail(items_.begin() + reversion_, items_.end());
        if (!hasData(tail)) throw std::invalid_argument("more values than the layout can write");
        while (completed && writer.valuesLeft()) {
            writer.endLine();
            completed = writer.run(tail);
        }
    }
    writer.endLine();
    return writer.take();
}

std::string freeLine(std::initializer_list<Value> items) {
    std::string line;
    for (const Value& v : items) {
        line += ' ';
        switch (v.kind()) {
        case Value::Kind::Integer:
            line += std::to_string(v.integer());
            break;
        case Value::Kind::Real: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.10g", v.real());
            line += buf;
            break;
        }
        case Value::Kind::Text:
            line += v.text();
            break;
        case Value::Kind::Undefined:
            line += '*';
            break;
        }
    }
    return line + '\n';
}

} // namespace fixedio
