#include "json_check.h"

#include <cstddef>

namespace standin {
namespace {

// Deeper nesting than this is refused rather than risking the stack.
constexpr int kMaxDepth = 200;

class JsonChecker {
public:
    explicit JsonChecker(std::string_view text) : text_(text) {}

    bool CheckObjectDocument() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        SkipBlanks();
        if (Peek() != '{' || !Value(0)) return false;
        SkipBlanks();
        return pos_ == text_.size();
    }

private:
    char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool AtEnd() const { return pos_ >= text_.size(); }

    bool Take(char c) {
        if (Peek() != c) return false;
        ++pos_;
        return true;
    }

    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++pos_;
        }
    }

    bool Literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool Value(int depth) {
        if (depth > kMaxDepth) return false;
        SkipBlanks();
        switch (Peek()) {
            case '{':
                return Object(depth);
            case '[':
                return Array(depth);
            case '"':
                return String();
            case 't':
                return Literal("true");
            case 'f':
                return Literal("false");
            case 'n':
                return Literal("null");
            default:
                return Number();
        }
    }

    bool Object(int depth) {
        Take('{');
        SkipBlanks();
        if (Take('}')) return true;
        while (true) {
            SkipBlanks();
            if (Peek() != '"' || !String()) return false;
            SkipBlanks();
            if (!Take(':') || !Value(depth + 1)) return false;
            SkipBlanks();
            if (Take('}')) return true;
            if (!Take(',')) return false;
        }
    }

    bool Array(int depth) {
        Take('[');
        SkipBlanks();
        if (Take(']')) return true;
        while (true) {
            if (!Value(depth + 1)) return false;
            SkipBlanks();
            if (Take(']')) return true;
            if (!Take(',')) return false;
        }
    }

    static bool IsHex(char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    bool String() {
        Take('"');
        while (!AtEnd()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') continue;
            if (AtEnd()) return false;
            const char escaped = text_[pos_++];
            if (escaped == 'u') {
                for (int i = 0; i < 4; ++i) {
                    if (AtEnd() || !IsHex(text_[pos_++])) return false;
                }
            } else if (std::string_view("\"\\/bfnrt").find(escaped) == std::string_view::npos) {
                return false;
            }
        }
        return false;
    }

    bool Digits() {
        const std::size_t start = pos_;
        while (Peek() >= '0' && Peek() <= '9') ++pos_;
        return pos_ > start;
    }

    bool Number() {
        Take('-');
        if (!Take('0') && !Digits()) return false;
        if (Take('.') && !Digits()) return false;
        if (Take('e') || Take('E')) {
            if (!Take('+')) Take('-');
            if (!Digits()) return false;
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool IsJsonObject(std::string_view text) {
    return JsonChecker(text).CheckObjectDocument();
}

}  // namespace standin
