#include "resolve/generic/ScriptValues.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

namespace orvello::generic {

namespace {

enum class TokenKind { End, Name, String, Template, Number, Regex, Punct };

struct Token {
    TokenKind kind = TokenKind::End;
    QStringView text; // as written (for a string: without its quotes, escapes not decoded)
    QChar punct;      // for TokenKind::Punct
};

bool IsNameStart(QChar c) {
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

bool IsNamePart(QChar c) {
    return IsNameStart(c) || c.isDigit();
}

bool IsBlank(QChar c) {
    return c.isSpace() || c == QChar(0xFEFF);
}

// Words after which a '/' starts a regular expression rather than dividing.
bool RegexMayFollowWord(QStringView word) {
    for (const char* w : {"return", "typeof", "case", "do", "else", "in", "of", "new", "delete",
                          "void", "throw", "instanceof", "yield", "await"}) {
        if (word == QLatin1String(w))
            return true;
    }
    return false;
}

// Splits a script into tokens, one pass, never backwards.
class Lexer {
public:
    explicit Lexer(QStringView text) : s_(text) {}

    Token next() {
        skipBlanksAndComments();
        Token t;
        if (pos_ >= s_.size()) {
            t.kind = TokenKind::End;
            return t;
        }
        const qsizetype start = pos_;
        const QChar c = s_[pos_];
        if (c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('`')) {
            bool closed = false;
            t.kind = readQuoted(c, closed) ? TokenKind::Template : TokenKind::String;
            // An unterminated text runs to where the reading stopped.
            t.text = s_.mid(start + 1, pos_ - start - (closed ? 2 : 1));
        } else if (IsNameStart(c)) {
            while (pos_ < s_.size() && IsNamePart(s_[pos_]))
                ++pos_;
            t.kind = TokenKind::Name;
            t.text = s_.mid(start, pos_ - start);
        } else if (c.isDigit() ||
                   (c == QLatin1Char('.') && pos_ + 1 < s_.size() && s_[pos_ + 1].isDigit())) {
            while (pos_ < s_.size() && (s_[pos_].isLetterOrNumber() || s_[pos_] == '.' ||
                                        ((s_[pos_] == '+' || s_[pos_] == '-') &&
                                         (s_[pos_ - 1] == 'e' || s_[pos_ - 1] == 'E'))))
                ++pos_;
            t.kind = TokenKind::Number;
            t.text = s_.mid(start, pos_ - start);
        } else if (c == QLatin1Char('/') && regexMayStart()) {
            readRegex();
            t.kind = TokenKind::Regex;
            t.text = s_.mid(start, pos_ - start);
        } else {
            ++pos_;
            t.kind = TokenKind::Punct;
            t.punct = c;
            t.text = s_.mid(start, 1);
        }
        prev_ = t;
        return t;
    }

    qsizetype position() const { return pos_; }

private:
    void skipBlanksAndComments() {
        while (pos_ < s_.size()) {
            const QChar c = s_[pos_];
            if (IsBlank(c)) {
                ++pos_;
            } else if (c == QLatin1Char('/') && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
                while (pos_ < s_.size() && s_[pos_] != QLatin1Char('\n'))
                    ++pos_;
            } else if (c == QLatin1Char('/') && pos_ + 1 < s_.size() && s_[pos_ + 1] == '*') {
                const qsizetype end = s_.indexOf(QLatin1String("*/"), pos_ + 2);
                pos_ = end < 0 ? s_.size() : end + 2;
            } else {
                return;
            }
        }
    }

    // Moves past a quoted text whose opening quote is at pos_; true for a template with an
    // ${...} part. A quote other than '`' ends at the line's end when it is not closed.
    bool readQuoted(QChar quote, bool& closed) {
        bool substitution = false;
        ++pos_;
        while (pos_ < s_.size()) {
            const QChar c = s_[pos_];
            if (c == QLatin1Char('\\')) {
                pos_ = std::min(pos_ + 2, s_.size());
                continue;
            }
            if (c == quote) {
                ++pos_;
                closed = true;
                return substitution;
            }
            if (quote != QLatin1Char('`') && c == QLatin1Char('\n'))
                return substitution;
            if (quote == QLatin1Char('`') && c == QLatin1Char('$') && pos_ + 1 < s_.size() &&
                s_[pos_ + 1] == QLatin1Char('{'))
                substitution = true;
            ++pos_;
        }
        return substitution;
    }

    bool regexMayStart() const {
        switch (prev_.kind) {
        case TokenKind::Name:
            return RegexMayFollowWord(prev_.text);
        case TokenKind::String:
        case TokenKind::Template:
        case TokenKind::Number:
        case TokenKind::Regex:
            return false;
        case TokenKind::Punct:
            return prev_.punct != QLatin1Char(')') && prev_.punct != QLatin1Char(']') &&
                   prev_.punct != QLatin1Char('}');
        case TokenKind::End:
            return true;
        }
        return true;
    }

    // Moves past a regular expression literal (its class brackets may hold '/'), and its flags.
    void readRegex() {
        ++pos_;
        bool inClass = false;
        while (pos_ < s_.size() && s_[pos_] != QLatin1Char('\n')) {
            const QChar c = s_[pos_];
            if (c == QLatin1Char('\\')) {
                pos_ = std::min(pos_ + 2, s_.size());
                continue;
            }
            ++pos_;
            if (c == QLatin1Char('['))
                inClass = true;
            else if (c == QLatin1Char(']'))
                inClass = false;
            else if (c == QLatin1Char('/') && !inClass)
                break;
        }
        while (pos_ < s_.size() && IsNamePart(s_[pos_]))
            ++pos_;
    }

    QStringView s_;
    qsizetype pos_ = 0;
    Token prev_;
};

int HexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// The text a quoted literal stands for: its escapes decoded (\n, \t, \xHH, \uHHHH,
// \u{H...}, a line continuation; any other escaped character stands for itself).
QString DecodeQuoted(QStringView raw) {
    if (!raw.contains(QLatin1Char('\\')))
        return raw.toString();
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != QLatin1Char('\\') || i + 1 >= raw.size()) {
            out += c;
            continue;
        }
        const QChar e = raw[++i];
        auto hex = [&](qsizetype from, qsizetype count) -> int {
            if (from + count > raw.size())
                return -1;
            int v = 0;
            for (qsizetype k = 0; k < count; ++k) {
                const int h = HexValue(raw[from + k]);
                if (h < 0)
                    return -1;
                v = v * 16 + h;
            }
            return v;
        };
        switch (e.unicode()) {
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 'b':
            out += QChar(8);
            break;
        case 'f':
            out += QChar(12);
            break;
        case 'v':
            out += QChar(11);
            break;
        case '0':
            out += QChar(0);
            break;
        case '\n':
            break;
        case 'x': {
            const int v = hex(i + 1, 2);
            if (v < 0) {
                out += e;
            } else {
                out += QChar(char16_t(v));
                i += 2;
            }
            break;
        }
        case 'u': {
            if (i + 1 < raw.size() && raw[i + 1] == QLatin1Char('{')) {
                const qsizetype close = raw.indexOf(QLatin1Char('}'), i + 2);
                const qsizetype digits = close - i - 2;
                const int v = close > 0 && digits >= 1 && digits <= 6 ? hex(i + 2, digits) : -1;
                if (v >= 0 && v <= 0x10FFFF) {
                    const char32_t code = char32_t(v);
                    out += QString::fromUcs4(&code, 1);
                    i = close;
                } else {
                    out += e;
                }
            } else {
                const int v = hex(i + 1, 4);
                if (v < 0) {
                    out += e;
                } else {
                    out += QChar(char16_t(v));
                    i += 4;
                }
            }
            break;
        }
        default:
            out += e;
        }
    }
    return out;
}

// Reads literals out of the token stream, with the nesting bounded.
class Reader {
public:
    explicit Reader(QStringView text) : lex_(text) { advance(); }

    // A value up to the next ',', '}', ']', ')' or ';' at its own level; undefined unless
    // the whole of it is one literal.
    QJsonValue value(int depth) {
        QJsonValue v = primary(depth);
        if (atSeparator())
            return v;
        skipExpression();
        return QJsonValue(QJsonValue::Undefined);
    }

    bool isPunct(char c) const {
        return cur_.kind == TokenKind::Punct && cur_.punct == QLatin1Char(c);
    }
    bool isName(const char* word) const {
        return cur_.kind == TokenKind::Name && cur_.text == QLatin1String(word);
    }
    bool atEnd() const { return cur_.kind == TokenKind::End; }
    const Token& current() const { return cur_; }
    void advance() { cur_ = lex_.next(); }

    // Passes over tokens up to the next separator at the level it starts on.
    void skipExpression() {
        int level = 0;
        while (!atEnd()) {
            if (cur_.kind == TokenKind::Punct) {
                const QChar p = cur_.punct;
                if (p == '(' || p == '[' || p == '{') {
                    ++level;
                } else if (p == ')' || p == ']' || p == '}') {
                    if (level == 0)
                        return;
                    --level;
                } else if ((p == ',' || p == ';') && level == 0) {
                    return;
                }
            }
            advance();
        }
    }

private:
    bool atSeparator() const {
        if (atEnd())
            return true;
        if (cur_.kind != TokenKind::Punct)
            return false;
        const QChar p = cur_.punct;
        return p == ',' || p == '}' || p == ']' || p == ')' || p == ';';
    }

    // Passes over the bracketed part that starts at the current opening bracket.
    void skipBracketed() {
        int level = 0;
        while (!atEnd()) {
            if (cur_.kind == TokenKind::Punct) {
                const QChar p = cur_.punct;
                if (p == '(' || p == '[' || p == '{')
                    ++level;
                else if ((p == ')' || p == ']' || p == '}') && --level <= 0) {
                    advance();
                    return;
                }
            }
            advance();
        }
    }

    QJsonValue primary(int depth) {
        switch (cur_.kind) {
        case TokenKind::String: {
            const QString s = DecodeQuoted(cur_.text);
            advance();
            return s;
        }
        case TokenKind::Template: // holds ${...}: known only when the script runs
            advance();
            return QJsonValue(QJsonValue::Undefined);
        case TokenKind::Number: {
            bool ok = false;
            const double n = cur_.text.toDouble(&ok);
            advance();
            return ok ? QJsonValue(n) : QJsonValue(QJsonValue::Undefined);
        }
        case TokenKind::Name:
            if (isName("true") || isName("false")) {
                const bool b = isName("true");
                advance();
                return b;
            }
            if (isName("null")) {
                advance();
                return QJsonValue(QJsonValue::Null);
            }
            return QJsonValue(QJsonValue::Undefined);
        case TokenKind::Punct:
            if (isPunct('{') || isPunct('[')) {
                if (depth >= kMaxScriptNesting) {
                    skipBracketed();
                    return QJsonValue(QJsonValue::Undefined);
                }
                return isPunct('{') ? object(depth) : array(depth);
            }
            if (isPunct('-')) {
                advance();
                if (cur_.kind != TokenKind::Number)
                    return QJsonValue(QJsonValue::Undefined);
                const QJsonValue n = primary(depth);
                return n.isDouble() ? QJsonValue(-n.toDouble()) : n;
            }
            return QJsonValue(QJsonValue::Undefined);
        case TokenKind::Regex:
        case TokenKind::End:
            break;
        }
        return QJsonValue(QJsonValue::Undefined);
    }

    QJsonValue object(int depth) {
        QJsonObject o;
        advance(); // '{'
        while (!atEnd() && !isPunct('}')) {
            const qsizetype before = lex_.position();
            QString key;
            bool named = false;
            if (cur_.kind == TokenKind::Name || cur_.kind == TokenKind::Number) {
                key = cur_.text.toString();
                named = true;
                advance();
            } else if (cur_.kind == TokenKind::String) {
                key = DecodeQuoted(cur_.text);
                named = true;
                advance();
            } else if (isPunct('[')) { // a computed key
                skipBracketed();
            }
            if (isPunct(':')) {
                advance();
                QJsonValue v = value(depth + 1);
                if (named && !v.isUndefined())
                    o.insert(key, v);
            } else if (isPunct('(')) { // a method: its parameters and body
                skipBracketed();
                if (isPunct('{'))
                    skipBracketed();
            } else if (!isPunct(',') && !isPunct('}')) {
                skipExpression(); // a spread, a getter, or what is not an object at all
            }
            if (isPunct(','))
                advance();
            else if (!isPunct('}') && lex_.position() == before)
                advance(); // a stray ')' or ']': never stand still
            else if (!isPunct('}'))
                break;
        }
        if (isPunct('}'))
            advance();
        return o;
    }

    QJsonValue array(int depth) {
        QJsonArray a;
        advance(); // '['
        while (!atEnd() && !isPunct(']')) {
            if (isPunct(',')) { // a hole
                advance();
                continue;
            }
            const qsizetype before = lex_.position();
            QJsonValue v = value(depth + 1);
            a.append(v.isUndefined() ? QJsonValue(QJsonValue::Null) : v);
            if (isPunct(','))
                advance();
            else if (!isPunct(']') && lex_.position() == before)
                advance();
            else if (!isPunct(']'))
                break;
        }
        if (isPunct(']'))
            advance();
        return a;
    }

    Lexer lex_;
    Token cur_;
};

} // namespace

QJsonValue ReadScriptValue(QStringView text) {
    Reader reader(text);
    return reader.value(0);
}

std::vector<QJsonValue> FindPlayerCalls(QStringView script, int maxCalls) {
    std::vector<QJsonValue> calls;
    Reader reader(script);
    bool afterDot = false;
    while (!reader.atEnd() && int(calls.size()) < maxCalls) {
        const bool method = afterDot && (reader.isName("setup") || reader.isName("src"));
        const bool videojs = reader.isName("videojs");
        afterDot = reader.isPunct('.');
        reader.advance();
        if ((!method && !videojs) || !reader.isPunct('('))
            continue;
        reader.advance();
        if (videojs) { // videojs(element, options): the options
            reader.skipExpression();
            if (!reader.isPunct(','))
                continue;
            reader.advance();
        }
        calls.push_back(reader.value(0));
    }
    return calls;
}

} // namespace orvello::generic
