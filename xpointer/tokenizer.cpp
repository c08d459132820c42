#include <ambrite/xml/xpointer.h>

#include "foundation/internal.h"

namespace Ambrite {
namespace XML {

namespace {

bool escapable(XMLCh c) { return c == u'(' || c == u')' || c == u'^'; }

// Rewrites the n units at s in place without their escapes; false when one is bad (its "^" is
// kept and the unit after it read as any other). Gives the new length in n.
bool removeEscapes(XMLCh* s, std::size_t& n) {
    bool valid = true;
    std::size_t w = 0;
    for (std::size_t r = 0; r < n; ++r) {
        if (s[r] == u'^') {
            if (r + 1 < n && escapable(s[r + 1])) {
                s[w++] = s[++r];
                continue;
            }
            valid = false;
        }
        s[w++] = s[r];
    }
    n = w;
    s[w] = 0;
    return valid;
}

}  // namespace

XPointerTokenizer::XPointerTokenizer(const XMLCh* text)
    : XPathTokenizer(text), schemeData_(nullptr) {}

XPointerTokenizer::~XPointerTokenizer() {
    if (schemeData_) utfree(schemeData_);
}

XPathTokenizer::Type XPointerTokenizer::nextImpl() {
    const Type type = XPathTokenizer::nextImpl();
    if (type != INVALID || text_[start_] != u'^' || start_ + 1 >= length_) return type;
    const XMLCh c = text_[start_ + 1];
    if (!escapable(c)) return INVALID;
    // The token becomes the escaped unit alone.
    ++start_;
    position_ = start_ + 1;
    return c == u'^' ? INVALID : OPERATOR;
}

XMLCh* XPointerTokenizer::unescape(XMLCh* start, unsigned int length) {
    XMLCh* copy = internal::dupString(start, length);
    std::size_t n = length;
    if (currentType_ == LITERAL && !removeEscapes(copy, n)) currentType_ = INVALID;
    return copy;
}

const XMLCh* XPointerTokenizer::schemeData() {
    if (pushedBack_) return nullptr;
    while (position_ < length_ && isWhitespace(text_[position_])) ++position_;
    const int begin = position_;
    int end = begin;
    for (unsigned long depth = 0;; ++end) {
        if (end >= length_) return nullptr;
        const XMLCh c = text_[end];
        if (c == u'^') {
            if (end + 1 >= length_ || !escapable(text_[end + 1])) return nullptr;
            ++end;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (depth == 0) break;
            --depth;
        }
    }
    while (end > begin && isWhitespace(text_[end - 1])) --end;
    XMLCh* data = internal::dupString(text_ + begin, static_cast<std::size_t>(end - begin));
    std::size_t n = static_cast<std::size_t>(end - begin);
    removeEscapes(data, n);  // the scan has checked every escape
    if (schemeData_) utfree(schemeData_);
    schemeData_ = data;
    position_ = end;
    return data;
}

}  // namespace XML
}  // namespace Ambrite
