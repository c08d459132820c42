#include <ambrite/xml/xpath.h>

#include <cassert>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

// The two-unit operators are the first 12 units read in pairs, the one-unit operators the
// last 15 units.
const XMLCh kOperators[] = u"..:://!=<=>=()[].@,*/|+-=<>";
const int kTwoUnitOperators = 6;

enum : unsigned char { NAME_START = 1, NAME_CHAR = 2, ONE_UNIT_OPERATOR = 4 };

struct CharacterClasses {
    unsigned char table[128] = {};
    CharacterClasses() {
        for (int c = 0; c < 128; ++c) {
            bool start = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
            if (start) table[c] |= NAME_START | NAME_CHAR;
            if ((c >= '0' && c <= '9') || c == '.' || c == '-') table[c] |= NAME_CHAR;
        }
        for (const XMLCh* p = kOperators + 2 * kTwoUnitOperators; *p; ++p) {
            table[*p] |= ONE_UNIT_OPERATOR;
        }
    }
};

const CharacterClasses kClasses;

bool is(XMLCh c, unsigned char cls) { return c < 128 && (kClasses.table[c] & cls); }

}  // namespace

XPathTokenizer::XPathTokenizer(const XMLCh* text)
    : text_(StringUtil::dup(text)),
      start_(0),
      position_(0),
      length_(static_cast<int>(internal::length(text_))),
      currentType_(INVALID),
      recentTokens_(),
      recentTypes_(),
      produced_(0),
      pushedBack_(0) {}

XPathTokenizer::~XPathTokenizer() {
    for (XMLCh* t : recentTokens_) {
        if (t) utfree(t);
    }
    utfree(text_);
}

const XMLCh* XPathTokenizer::next() {
    if (pushedBack_) {
        unsigned int slot = (produced_ - pushedBack_) % 4;
        --pushedBack_;
        currentType_ = recentTypes_[slot];
        return recentTokens_[slot];
    }
    while (position_ < length_ && isWhitespace(text_[position_])) ++position_;
    XMLCh* token = nullptr;
    if (position_ < length_) {
        currentType_ = nextImpl();
        token = unescape(text_ + start_, static_cast<unsigned int>(position_ - start_));
    } else {
        currentType_ = INVALID;
    }
    unsigned int slot = produced_ % 4;
    if (recentTokens_[slot]) utfree(recentTokens_[slot]);
    recentTokens_[slot] = token;
    recentTypes_[slot] = currentType_;
    ++produced_;
    return token;
}

const XMLCh* XPathTokenizer::peek() {
    next();
    return undo();
}

const XMLCh* XPathTokenizer::undo() {
    assert(pushedBack_ < 4 && pushedBack_ < produced_);
    ++pushedBack_;
    return recentTokens_[(produced_ - pushedBack_) % 4];
}

XMLCh* XPathTokenizer::trim(const XMLCh* s) {
    std::size_t begin = 0, end = internal::length(s);
    while (begin < end && isWhitespace(s[begin])) ++begin;
    while (end > begin && isWhitespace(s[end - 1])) --end;
    return internal::dupString(s + begin, end - begin);
}

XMLCh* XPathTokenizer::unescape(XMLCh* start, unsigned int length) {
    return internal::dupString(start, length);
}

XPathTokenizer::Type XPathTokenizer::nextImpl() {
    start_ = position_;
    const XMLCh c = text_[position_];
    auto remaining = [this] { return length_ - position_; };
    auto skipName = [this] {
        ++position_;
        while (position_ < length_ && is(text_[position_], NAME_CHAR)) ++position_;
    };

    if (is(c, NAME_START) ||
        (c == u'$' && remaining() > 1 && is(text_[position_ + 1], NAME_START))) {
        const Type plain = c == u'$' ? VARIABLE : NAME;
        if (c == u'$') ++position_;
        skipName();
        if (remaining() < 2 || text_[position_] != u':') return plain;
        XMLCh after = text_[position_ + 1];
        if (after == u'*' && c != u'$') {
            position_ += 2;
            return PREFIX_WILDCARD;
        }
        if (is(after, NAME_START)) {
            ++position_;
            skipName();
            return c == u'$' ? VARIABLE : QNAME;
        }
        return plain;
    }

    if (isDigit(c) || (c == u'.' && remaining() > 1 && isDigit(text_[position_ + 1]))) {
        ++position_;
        while (position_ < length_ && isDigit(text_[position_])) ++position_;
        if (c != u'.' && position_ < length_ && text_[position_] == u'.') {
            ++position_;
            while (position_ < length_ && isDigit(text_[position_])) ++position_;
        }
        return NUMBER;
    }

    if (remaining() >= 2) {
        for (int i = 0; i < kTwoUnitOperators; ++i) {
            if (kOperators[2 * i] == c && kOperators[2 * i + 1] == text_[position_ + 1]) {
                position_ += 2;
                return OPERATOR;
            }
        }
    }
    if (is(c, ONE_UNIT_OPERATOR)) {
        ++position_;
        return OPERATOR;
    }

    if (c == u'\'' || c == u'"') {
        for (int i = position_ + 1; i < length_; ++i) {
            if (text_[i] == c) {
                position_ = i + 1;
                return LITERAL;
            }
        }
    }
    ++position_;
    return INVALID;
}

}  // namespace XML
}  // namespace Ambrite
