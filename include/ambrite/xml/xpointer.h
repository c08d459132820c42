// XPointer: same-document references (bare names, child sequences, xpointer() and xmlns()
// parts) compiled into XPath expressions and evaluated against a document.
#ifndef AMBRITE_XML_XPOINTER_H
#define AMBRITE_XML_XPOINTER_H

#include <ambrite/xml/foundation.h>
#include <ambrite/xml/xpath.h>

#include <iosfwd>
#include <vector>

namespace Ambrite {
namespace XML {

/// The XPath tokenizer with the circumflex escapes of XPointer: "^(", "^)" and "^^" stand for
/// "(", ")" and "^". Outside string literals an escaped parenthesis is a real one.
class AMXML_API XPointerTokenizer : public XPathTokenizer {
public:
    /// Copies `text`, which must not be null.
    explicit XPointerTokenizer(const XMLCh* text);
    ~XPointerTokenizer() override;

    /// The unescaped data of the current scheme part, up to its closing ")" (which the next
    /// next() returns), without surrounding whitespace; null when the parentheses do not match,
    /// an escape is bad or a token is pushed back (the position is then left at the data). The
    /// string stays the tokenizer's until the next schemeData() and invalidates no token text.
    const XMLCh* schemeData();

protected:
    /// Undoes the escapes of a literal; a bad escape leaves its "^" and makes the token INVALID.
    XMLCh* unescape(XMLCh* start, unsigned int length) override;
    /// An escaped parenthesis outside a literal is that parenthesis (OPERATOR); "^^" is "^".
    Type nextImpl() override;

private:
    XMLCh* schemeData_;
};

/// A compiled XPointer: one expression for a shorthand pointer or a child sequence, or the
/// understood parts of a scheme-based pointer, in text order.
class AMXML_API XPointer : public Allocated {
public:
    XPointer(const XPointer&) = delete;
    XPointer& operator=(const XPointer&) = delete;
    ~XPointer();

    /// The nodes of the first part that selects any, as a new iterator owned by the caller; the
    /// nodes are collected first, so it stays valid when the pointer is deleted or evaluated
    /// again. Every id() call goes through a wrapper that remembers the first ID not found, and
    /// xmlns() parts bind their prefixes for the parts after them, both in a private copy of
    /// `bindings`, which is left unchanged. Evaluation visits at most MAX_VISITS nodes unless
    /// `bindings` holds an XPath::Budget, which is then used instead. Exception 16 when no part
    /// selects a node (also for a null document); XPath's Exception 14 from a part ends the
    /// evaluation at once.
    XPath::Iterator* locationSet(DOMDocument* document, const XPath::BindingMap& bindings);
    /// True for a scheme-based pointer, false for a shorthand pointer or a child sequence.
    bool full() const { return full_; }

    static const unsigned long long MAX_VISITS = 10000000;

private:
    friend class XPointerParser;
    friend AMXML_API std::ostream& operator<<(std::ostream& out, const XPointer* pointer);
    /// Adopts `expression`.
    explicit XPointer(XPath* expression);
    /// Adopts the parts (the vector is copied).
    explicit XPointer(const std::vector<XPath*>& parts);

    std::vector<XPath*> parts_;
    bool full_;
};

/// The parts in order, separated by one space.
AMXML_API std::ostream& operator<<(std::ostream& out, const XPointer* pointer);

/// Compiles XPointer text.
class AMXML_API XPointerParser {
public:
    /// A new pointer owned by the caller, from the text of a fragment without its "#": a bare
    /// name, a child sequence ("/", "/1/2", "name/3") or scheme parts ("xmlns(p=URI)",
    /// "xpointer(EXPR)", unknown schemes skipped). Syntax errors are Exception 17 naming the
    /// offending token ("Null" at the end), those inside xpointer() the XPath parser's
    /// Exception 15; a child sequence longer than XPathParser::MAX_DEPTH allows fails with
    /// Exception 17 "Expression nested too deeply".
    static XPointer* parse(const XMLCh* text);
};

}  // namespace XML
}  // namespace Ambrite

#endif
