#include "freeread.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fixedio {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Sign, digits with an optional point (or a point and digits), optional E or D exponent.
bool looksReal(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t mantissa = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++mantissa;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++mantissa;
    }
    if (mantissa == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exponent = 0;
        while (i < s.size() && isDigit(s[i])) ++i, ++exponent;
        if (exponent == 0) return false;
    }
    return i == s.size();
}

bool looksInteger(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (!isDigit(s[i])) return false;
    return true;
}

// The length of the valid UTF-8 sequence starting at s[i] (2 to 4), or 0.
std::size_t utf8Sequence(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

} // namespace

std::string shownText(std::string_view s) {
    constexpr std::size_t limit = 40;
    std::string out = "\"";
    std::size_t i = 0;
    for (; i < s.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            if (std::size_t n = utf8Sequence(s, i)) {
                out.append(s.substr(i, n));
                i += n - 1;
                continue;
            }
        } else if (c >= 0x20 && c != 0x7F && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        // Bytes that are no printable text would garble a terminal: shown as \xNN.
        static const char hex[] = "0123456789ABCDEF";
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    if (i < s.size()) out += "...";
    return out + "\"";
}

std::string fixedWidthTitle(std::string_view line, std::size_t width) {
    std::size_t end = std::min(line.size(), width);
    if (line.size() > width)
        while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
    std::string title(line.substr(0, end));
    title.append(width - title.size(), ' ');
    return title;
}

FreeReader::FreeReader(std::string program, std::string label, std::string content)
    : program_(std::move(program)), label_(std::move(label)), content_(std::move(content)) {
    if (content_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    // Lines ended by a carriage return alone would read as one long line.
    for (std::size_t cr = content_.find('\r'); cr != std::string::npos;
         cr = content_.find('\r', cr + 1)) {
        if (cr + 1 == content_.size() || content_[cr + 1] == '\n') continue;
        const int line =
            1 + static_cast<int>(std::count(content_.begin(), content_.begin() + cr, '\n'));
        fail(line, "the line ends with a carriage return alone (old Mac line ends); save the file "
                   "with Unix or Windows line ends");
    }
}

std::string FreeReader::fileContent(const std::string& program, const std::filesystem::path& path,
                                    const std::string& label) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw latent::InputError(program + ": " + label + " is a folder, not a file (" +
                                 path.string() + ")");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw latent::InputError(program + ": cannot open " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) throw latent::InputError(program + ": cannot read " + path.string());
    return content.str();
}

FreeReader FreeReader::fromFile(std::string program, const std::filesystem::path& path,
                                std::string label) {
    std::string content = fileContent(program, path, label);
    return FreeReader(std::move(program), std::move(label), std::move(content));
}

void FreeReader::fail(int line, const std::string& what) const {
    throw latent::InputError(program_ + ": " + label_ + " line " + std::to_string(line) + ": " +
                             what);
}

bool FreeReader::nextLine(std::string_view& line) {
    if (pos_ >= content_.size()) return false;
    std::size_t end = content_.find('\n', pos_);
    std::size_t next = end == std::string::npos ? content_.size() : end + 1;
    if (end == std::string::npos) end = content_.size();
    line = std::string_view(content_).substr(pos_, end - pos_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    pos_ = next;
    ++line_;
    lastLine_ = line;
    return true;
}

std::string FreeReader::readLine() {
    std::string_view line;
    if (!nextLine(line)) fail(line_ + 1, "the file ends where a line of text was expected");
    return std::string(line);
}

std::vector<Token> FreeReader::readValues(std::size_t n, std::string_view what) {
    std::vector<Token> tokens;
    tokens.reserve(
        std::min<std::size_t>(n, 4096)); // n comes from the deck: never trust it for memory
    bool commaPending = true; // a read starts as if after a separator comma: ",5" is an empty value
    bool first = true;
    // A read of no values still uses one line, as an empty record does.
    while (tokens.size() < n || first) {
        std::string_view line;
        if (!nextLine(line)) {
            fail(line_ + (first ? 1 : 0), "the file ends after " + std::to_string(tokens.size()) +
                                              " of " + std::to_string(n) + " " + std::string(what));
        }
        if (first) commaPending = false;
        first = false;
        std::size_t i = 0;
        while (i < line.size() && tokens.size() < n) {
            char c = line[i];
            if (c == ' ' || c == '\t') {
                ++i;
            } else if (c == ',') {
                if (commaPending) fail(line_, "empty value between commas");
                commaPending = true;
                ++i;
            } else {
                std::size_t start = i;
                while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != ',') ++i;
                tokens.push_back(Token{line.substr(start, i - start), line_});
                commaPending = false;
            }
        }
    }
    return tokens;
}

int FreeReader::toInt(const Token& token) const {
    if (!looksInteger(token.text))
        fail(token.line, "expected an integer, found " + shownText(token.text));
    errno = 0;
    std::string text(token.text);
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
        fail(token.line, "integer out of range, found " + shownText(token.text));
    return static_cast<int>(v);
}

double FreeReader::toReal(const Token& token) const {
    if (!looksReal(token.text))
        fail(token.line, "expected a number, found " + shownText(token.text));
    std::string text(token.text);
    for (char& c : text)
        if (c == 'd' || c == 'D') c = 'e';
    double v = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(v)) fail(token.line, "number out of range, found " + shownText(token.text));
    return v;
}

std::vector<int> FreeReader::readInts(std::size_t n, std::string_view what) {
    std::vector<int> values;
    for (const Token& t : readValues(n, what)) values.push_back(toInt(t));
    return values;
}

std::vector<double> FreeReader::readReals(std::size_t n, std::string_view what) {
    std::vector<double> values;
    for (const Token& t : readValues(n, what)) values.push_back(toReal(t));
    return values;
}

} // namespace fixedio
