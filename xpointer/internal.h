// The parts of a compiled XPointer and the id() wrapper of its evaluation; not part of the
// public interface.
#ifndef AMBRITE_XML_XPOINTER_INTERNAL_H
#define AMBRITE_XML_XPOINTER_INTERNAL_H

#include <ambrite/xml/xpath.h>
#include <ambrite/xml/xpointer.h>

#include <iosfwd>
#include <vector>

namespace Ambrite {
namespace XML {
namespace internal {

/// An xpointer() part: the nodes of the expression it adopts.
class XPointerWrapper : public XPath {
public:
    /// Adopts `expression` (also when this throws).
    explicit XPointerWrapper(XPath* expression);
    XPointerWrapper(const XPointerWrapper&) = delete;
    XPointerWrapper& operator=(const XPointerWrapper&) = delete;
    ~XPointerWrapper() override;

    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    XPath* expression_;
};

/// An xmlns() part: evaluating it binds its prefix to itself, as a Namespace, in the map it is
/// given, which must be the private copy an XPointer evaluates with; it selects nothing.
class NamespaceDeclaration : public XPath, public XPath::Namespace {
public:
    /// Copies both strings.
    NamespaceDeclaration(const XMLCh* prefix, const XMLCh* uri);
    NamespaceDeclaration(const NamespaceDeclaration&) = delete;
    NamespaceDeclaration& operator=(const NamespaceDeclaration&) = delete;
    ~NamespaceDeclaration() override;

    Iterator* nodeSet(DOMNode* node, unsigned int position, const BindingMap& bindings) override;
    void print(std::ostream& out) const override;

private:
    XMLCh* prefix_;
};

/// The id() function of an evaluation: the function it wraps (not owned), remembering the first
/// string argument that selected nothing.
class FailedIDFunction : public XPath::Function {
public:
    explicit FailedIDFunction(const XPath::Function* wrapped);
    FailedIDFunction(const FailedIDFunction&) = delete;
    FailedIDFunction& operator=(const FailedIDFunction&) = delete;
    ~FailedIDFunction() override;

    XPath::Iterator* nodeSet(const std::vector<XPath*>& args, DOMNode* node, unsigned int position,
                             const XPath::BindingMap& bindings) const override;
    /// The first ID that was not found, or null.
    const XMLCh* failedID() const { return failedID_; }

private:
    const XPath::Function* wrapped_;
    mutable XMLCh* failedID_;
};

/// No nodes; next() throws Exception 16 "No next node".
class EmptyIterator : public XPath::Iterator {
public:
    ~EmptyIterator() override;
    bool hasNext() override { return false; }
    DOMNode* next() override;
};

}  // namespace internal
}  // namespace XML
}  // namespace Ambrite

#endif
