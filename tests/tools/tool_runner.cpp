#include "tool_runner.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "child_process.h"

namespace tool_tests {

RunResult Run(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = child_process::ProgramCommand(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    const child_process::ProgramResult ran = child_process::RunProgram(command, {}, 120000);
    RunResult result;
    result.exitStatus = ran.ExitStatus();
    result.out = ran.out;
    result.err = ran.err;
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::size_t EntriesIn(const std::string& folder) {
    std::error_code error;
    std::size_t entries = 0;
    for (std::filesystem::directory_iterator entry(folder, error), end;
         !error && entry != end; entry.increment(error)) {
        ++entries;
    }
    return entries;
}

// ---------------------------------------------------------------------------
// JSON

namespace {

const Json kNull;

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : text_(text) {}

    bool ParseDocument(Json* value, std::string* error) {
        SkipSpace();
        if (!ParseValue(value, 0)) {
            *error = error_ + " at byte " + std::to_string(position_);
            return false;
        }
        SkipSpace();
        if (position_ != text_.size()) {
            *error = "text after the value at byte " + std::to_string(position_);
            return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }
    void SkipSpace() {
        while (position_ < text_.size() &&
               (text_[position_] == ' ' || text_[position_] == '\t' ||
                text_[position_] == '\n' || text_[position_] == '\r')) {
            ++position_;
        }
    }
    bool Literal(const char* word) {
        const std::string expected = word;
        if (text_.compare(position_, expected.size(), expected) != 0) return Fail("bad literal");
        position_ += expected.size();
        return true;
    }
    bool ParseValue(Json* value, int depth) {
        if (depth > 64) return Fail("nested too deep");
        if (position_ >= text_.size()) return Fail("unexpected end");
        const char c = text_[position_];
        if (c == '{') return ParseObject(value, depth);
        if (c == '[') return ParseArray(value, depth);
        if (c == '"') {
            value->kind = Json::Kind::String;
            return ParseString(&value->string);
        }
        if (c == 't' || c == 'f') {
            value->kind = Json::Kind::Bool;
            value->boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            value->kind = Json::Kind::Null;
            return Literal("null");
        }
        return ParseNumber(value);
    }
    bool ParseNumber(Json* value) {
        const std::size_t start = position_;
        if (position_ < text_.size() && text_[position_] == '-') ++position_;
        if (position_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[position_])))
            return Fail("bad number");
        if (text_[position_] == '0') {
            ++position_;
        } else {
            while (position_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[position_])))
                ++position_;
        }
        if (position_ < text_.size() && text_[position_] == '.') {
            ++position_;
            if (position_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[position_])))
                return Fail("bad fraction");
            while (position_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[position_])))
                ++position_;
        }
        if (position_ < text_.size() && (text_[position_] == 'e' || text_[position_] == 'E')) {
            ++position_;
            if (position_ < text_.size() && (text_[position_] == '+' || text_[position_] == '-'))
                ++position_;
            if (position_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[position_])))
                return Fail("bad exponent");
            while (position_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[position_])))
                ++position_;
        }
        value->kind = Json::Kind::Number;
        value->number = std::strtod(text_.substr(start, position_ - start).c_str(), nullptr);
        return true;
    }
    void AppendUtf8(std::string* out, unsigned codePoint) {
        if (codePoint < 0x80) {
            *out += static_cast<char>(codePoint);
        } else if (codePoint < 0x800) {
            *out += static_cast<char>(0xC0 | (codePoint >> 6));
            *out += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            *out += static_cast<char>(0xE0 | (codePoint >> 12));
            *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (codePoint >> 18));
            *out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (codePoint & 0x3F));
        }
    }
    bool ParseHex4(unsigned* value) {
        if (position_ + 4 > text_.size()) return Fail("short \\u escape");
        *value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[position_++];
            *value <<= 4;
            if (c >= '0' && c <= '9') *value |= c - '0';
            else if (c >= 'a' && c <= 'f') *value |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') *value |= c - 'A' + 10;
            else return Fail("bad \\u escape");
        }
        return true;
    }
    // Copies one raw multi-byte UTF-8 character, refusing malformed ones.
    bool CopyUtf8Sequence(std::string* out) {
        const unsigned char lead = static_cast<unsigned char>(text_[position_]);
        std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || position_ + length > text_.size()) return Fail("invalid UTF-8");
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text_[position_ + k]) & 0xC0) != 0x80)
                return Fail("invalid UTF-8");
        }
        out->append(text_, position_, length);
        position_ += length;
        return true;
    }
    bool ParseString(std::string* out) {
        ++position_;  // the opening quote
        while (position_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[position_]);
            if (c == '"') {
                ++position_;
                return true;
            }
            if (c < 0x20) return Fail("raw control character in a string");
            if (c >= 0x80) {
                if (!CopyUtf8Sequence(out)) return false;
                continue;
            }
            if (c != '\\') {
                *out += static_cast<char>(c);
                ++position_;
                continue;
            }
            if (++position_ >= text_.size()) return Fail("unfinished escape");
            const char escape = text_[position_++];
            switch (escape) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned codePoint = 0;
                if (!ParseHex4(&codePoint)) return false;
                if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
                    unsigned low = 0;
                    if (text_.compare(position_, 2, "\\u") != 0) return Fail("lone surrogate");
                    position_ += 2;
                    if (!ParseHex4(&low) || low < 0xDC00 || low > 0xDFFF)
                        return Fail("bad surrogate pair");
                    codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, codePoint);
                break;
            }
            default: return Fail("unknown escape");
            }
        }
        return Fail("unterminated string");
    }
    bool ParseArray(Json* value, int depth) {
        value->kind = Json::Kind::Array;
        ++position_;
        SkipSpace();
        if (position_ < text_.size() && text_[position_] == ']') {
            ++position_;
            return true;
        }
        for (;;) {
            Json element;
            SkipSpace();
            if (!ParseValue(&element, depth + 1)) return false;
            value->array.push_back(std::move(element));
            SkipSpace();
            if (position_ >= text_.size()) return Fail("unterminated array");
            if (text_[position_] == ',') {
                ++position_;
                continue;
            }
            if (text_[position_] == ']') {
                ++position_;
                return true;
            }
            return Fail("expected ',' or ']'");
        }
    }
    bool ParseObject(Json* value, int depth) {
        value->kind = Json::Kind::Object;
        ++position_;
        SkipSpace();
        if (position_ < text_.size() && text_[position_] == '}') {
            ++position_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (position_ >= text_.size() || text_[position_] != '"') return Fail("expected a key");
            std::string key;
            if (!ParseString(&key)) return false;
            SkipSpace();
            if (position_ >= text_.size() || text_[position_] != ':') return Fail("expected ':'");
            ++position_;
            SkipSpace();
            Json member;
            if (!ParseValue(&member, depth + 1)) return false;
            if (value->object.count(key) != 0) return Fail("duplicate key " + key);
            value->object[key] = std::move(member);
            SkipSpace();
            if (position_ >= text_.size()) return Fail("unterminated object");
            if (text_[position_] == ',') {
                ++position_;
                continue;
            }
            if (text_[position_] == '}') {
                ++position_;
                return true;
            }
            return Fail("expected ',' or '}'");
        }
    }

    const std::string& text_;
    std::size_t position_ = 0;
    std::string error_;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    auto found = object.find(key);
    return found == object.end() ? kNull : found->second;
}

const Json& Json::operator[](std::size_t index) const {
    return index < array.size() ? array[index] : kNull;
}

bool ParseJson(const std::string& text, Json* value, std::string* error) {
    JsonParser parser(text);
    *value = Json();
    return parser.ParseDocument(value, error);
}

}  // namespace tool_tests
