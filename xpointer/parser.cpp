#include <ambrite/xml/xpointer.h>

#include <memory>
#include <vector>

#include "xpath/internal.h"
#include "xpointer/internal.h"

namespace Ambrite {
namespace XML {

namespace {

bool is(const XMLCh* token, const XMLCh* text) { return token && StringUtil::eq(token, text); }

// The last token read is the offending one.
[[noreturn]] void unexpected(XPointerTokenizer& t, const char* message) {
    throw Exception(17, Format(message, t.undo()));
}

void require(XPointerTokenizer& t, const XMLCh* text, const char* message) {
    if (!is(t.next(), text)) unexpected(t, message);
}

// Whether the token just read is a name that a "(" follows; the "(" stays pushed back.
bool beginsScheme(XPointerTokenizer& t) {
    return t.type() == XPathTokenizer::NAME && is(t.peek(), u"(");
}

// Hands `e` over to `list`, whose room was reserved, so that nothing can throw once it is
// released. Used in new-initializers, which run only after the allocation succeeded.
const std::vector<XPath*>& adopt(std::vector<XPath*>& list, std::unique_ptr<XPath>& e) {
    list.push_back(e.release());
    return list;
}

const std::vector<XPath*>& adopt(std::vector<XPath*>& list,
                                 std::vector<std::unique_ptr<XPath>>& parts) {
    for (std::unique_ptr<XPath>& p : parts) list.push_back(p.release());
    return list;
}

// A bare name (an id() call) or the root, then "/n" steps, each child::*[n]. Every step makes
// the tree one level deeper, and the chain is bounded as the XPath parser bounds its trees.
XPath* childSequence(XPointerTokenizer& t) {
    const XMLCh* token = t.next();
    std::unique_ptr<XPath> e;
    unsigned int depth = 1;
    if (t.type() == XPathTokenizer::NAME) {
        std::vector<XPath*> arguments;
        arguments.reserve(1);
        std::unique_ptr<XPath> name(new Primitive(token));
        e.reset(new FunctionCall(u"id", adopt(arguments, name)));
        depth = 2;
        token = t.next();
    } else if (is(token, u"/")) {
        e.reset(new Primitive(Primitive::ROOT));
        // "/" alone is the root.
        if (!t.peek()) return e.release();
    } else {
        unexpected(t, "Unexpected token (expecting '/'): %S");
    }
    while (is(token, u"/")) {
        const XMLCh* n = t.next();
        if (t.type() != XPathTokenizer::NUMBER || StringUtil::find(n, u'.')) {
            unexpected(t, "Unexpected token (expecting integer): %S");
        }
        if (++depth > XPathParser::MAX_DEPTH) throw Exception(17, "Expression nested too deeply");
        std::unique_ptr<Step::Axis> axis(new LinearAxis(LinearAxis::CHILD));
        std::unique_ptr<Step::Test> test(new NameTest(u"*"));
        std::unique_ptr<XPath> index(new Primitive(internal::parseNumber(n, internal::length(n))));
        std::vector<XPath*> predicates;
        predicates.reserve(1);
        e.reset(new Step(e.release(), axis.release(), test.release(), adopt(predicates, index)));
        token = t.next();
    }
    t.undo();
    return e.release();
}

// Scheme parts until the next token is not a name followed by "("; unknown schemes are read
// and dropped.
typedef XPath* (*ExpressionParser)(XPathTokenizer&);

void schemeParts(XPointerTokenizer& t, ExpressionParser expression,
                 std::vector<std::unique_ptr<XPath>>& parts) {
    const XMLCh* name = t.next();
    for (;;) {
        const bool xmlns = is(name, u"xmlns"), xpointer = is(name, u"xpointer");
        t.next();  // the "(" that made it a scheme part
        if (xmlns) {
            const XMLCh* prefix = t.next();
            if (is(prefix, u")")) {
                t.undo();
            } else {
                if (t.type() != XPathTokenizer::NAME) {
                    unexpected(t, "Unexpected token (expecting namespace prefix): %S");
                }
                internal::OwnedString copy(StringUtil::dup(prefix));
                require(t, u"=", "Unexpected token (expecting '='): %S");
                const XMLCh* uri = t.schemeData();
                if (!uri) throw Exception(17, "Error matching parentheses");
                std::unique_ptr<XPath> part(new internal::NamespaceDeclaration(copy.get(), uri));
                parts.push_back(std::move(part));
            }
        } else if (xpointer) {
            std::unique_ptr<XPath> e(expression(t));
            std::unique_ptr<XPath> part(new internal::XPointerWrapper(e.release()));
            parts.push_back(std::move(part));
        } else if (!t.schemeData()) {
            throw Exception(17, "Error matching parentheses");
        }
        require(t, u")", "Unexpected token (expecting ')'): %S");
        name = t.next();
        if (!beginsScheme(t)) {
            t.undo();
            return;
        }
    }
}

}  // namespace

XPointer* XPointerParser::parse(const XMLCh* text) {
    XPointerTokenizer t(text);
    t.next();
    const bool full = beginsScheme(t);
    t.undo();
    std::unique_ptr<XPointer> pointer;
    if (full) {
        std::vector<std::unique_ptr<XPath>> parts;
        // The XPath parser lets this class parse one expression from a tokenizer.
        schemeParts(
            t, [](XPathTokenizer& tokenizer) { return XPathParser::parse(tokenizer); }, parts);
        std::vector<XPath*> raw;
        raw.reserve(parts.size());
        pointer.reset(new XPointer(adopt(raw, parts)));
    } else {
        std::unique_ptr<XPath> e(childSequence(t));
        pointer.reset(new XPointer(e.release()));
    }
    if (const XMLCh* token = t.next()) {
        throw Exception(17, Format("Unexpected token (expecting none): %S", token));
    }
    return pointer.release();
}

}  // namespace XML
}  // namespace Ambrite
