#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>

#include <cstdio>
#include <vector>
#include <xercesc/dom/DOMCharacterData.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include "c14n/internal.h"

namespace Ambrite {
namespace XML {
namespace C14n {

using internal::AttrFilter;
using internal::Axes;
using internal::Escapes;

namespace {

const ConstantFilter kRejectAll(false);
const ReplacementMap kNoReplacements;

// The elements whose replacements are being written, innermost first: meeting one of them again
// means a replacement contains the element it replaces.
struct ActiveReplacement {
    const DOMNode* element;
    const ActiveReplacement* outer;
};

bool acceptsEverything(const NodeSet::Filter* f) {
    return f->type() == NodeSet::Filter::CONSTANT_FILTER &&
           static_cast<const ConstantFilter*>(f)->constant();
}

template <class Out>
void execute(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
             const CanonicalizerParameters* parameters, const ActiveReplacement* active);

// One canonicalization run: a walk of the root's subtree in document order, escaping text and
// attribute values with the two tables.
template <class Out, const Escapes& Text, const Escapes& Attribute>
class Run {
public:
    Run(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
        const CanonicalizerParameters* parameters, const ActiveReplacement* active);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    void execute();

private:
    // Kept for every node whose children are being walked.
    struct Frame {
        bool element;
        bool included;  // the element's start tag was written
        bool parentOutput;
        Axes::Mark scopes;
    };
    typedef internal::Walker<Frame> Walk;

    void visit(Walk& walk);
    void visitElement(Walk& walk, DOMElement* e, bool inTree, bool excluded, bool included);
    void replace(DOMNode* e, const NodeSet* replacement);
    void inheritAncestorScopes();

    Out& out_;
    DOMCanonicalizer::Mode mode_;
    const CanonicalizerParameters* parameters_;
    const ActiveReplacement* active_;
    bool comments_;
    const ReplacementMap& replacements_;

    NodeSetIterator decomposition_;
    DOMNode* root_;
    const NodeHashSet& treeSet_;
    const NodeHashSet& notTreeSet_;
    const NodeSet::Filter* residual_;
    bool residualAcceptsAll_;
    AttrFilter inTreeAttributes_;
    AttrFilter outOfTreeAttributes_;
    Axes axes_;
    internal::CanonicalOutput<Out, true, Text, Attribute> output_;

    bool parentOutput_;
    DOMNode* apex_;
    internal::DocumentLevel level_;
};

template <class Out, const Escapes& Text, const Escapes& Attribute>
Run<Out, Text, Attribute>::Run(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
                               const CanonicalizerParameters* parameters,
                               const ActiveReplacement* active)
    : out_(out),
      mode_(mode),
      parameters_(parameters),
      active_(active),
      comments_(mode == DOMCanonicalizer::CANONICAL_WITH_COMMENTS ||
                mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS),
      replacements_(parameters ? parameters->replacementNodeSets() : kNoReplacements),
      decomposition_(nodeSet),
      root_(decomposition_.root()),
      treeSet_(decomposition_.treeSet()),
      notTreeSet_(decomposition_.notTreeSet()),
      residual_(decomposition_.filter()),
      residualAcceptsAll_(acceptsEverything(residual_)),
      inTreeAttributes_(&notTreeSet_, false, residual_),
      outOfTreeAttributes_(&treeSet_, true, residual_),
      axes_(
          mode == DOMCanonicalizer::EXCLUSIVE || mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS,
          nodeSet->namespaceExpanded(), parameters && parameters->emitNullApexXMLNS(),
          parameters ? &parameters->unsuppressedNamespacePrefixes() : nullptr),
      output_(out, axes_, comments_),
      parentOutput_(false),
      apex_(nullptr),
      level_(root_) {}

// The scope the root inherits: its ancestor elements from the outermost down, none of them
// output and none of their attributes in the set.
template <class Out, const Escapes& Text, const Escapes& Attribute>
void Run<Out, Text, Attribute>::inheritAncestorScopes() {
    std::vector<DOMElement*> ancestors;
    for (DOMNode* n = DOMUtil::getParentNode(root_); n; n = n->getParentNode()) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE)
            ancestors.push_back(static_cast<DOMElement*>(n));
    }
    Axes::Selection none;
    none.kind = Axes::Selection::NONE;
    for (std::size_t i = ancestors.size(); i-- > 0;) axes_.scope(ancestors[i], false, none);
}

template <class Out, const Escapes& Text, const Escapes& Attribute>
void Run<Out, Text, Attribute>::execute() {
    inheritAncestorScopes();
    Walk walk(root_);
    do {
        DOMNode* node = walk.node();
        if (walk.entering()) {
            visit(walk);
            if (walk.descended()) continue;
        } else {
            const Frame& f = walk.data();
            if (f.element) {
                if (f.included) output_.endTag(node->getNodeName());
                parentOutput_ = f.parentOutput;
                axes_.restore(f.scopes);
            }
        }
        // Done with the node and its subtree.
        if (node == apex_) apex_ = nullptr;
        level_.done(node);
    } while (walk.next());
}

template <class Out, const Escapes& Text, const Escapes& Attribute>
void Run<Out, Text, Attribute>::visit(Walk& walk) {
    DOMNode* node = walk.node();
    bool inTree = apex_ || treeSet_.contains(node);
    bool excluded = notTreeSet_.size() && notTreeSet_.contains(node);
    bool included = inTree && !excluded && (residualAcceptsAll_ || residual_->accept(node));
    if (inTree && !apex_) apex_ = node;
    level_.enter(node);

    switch (node->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
            visitElement(walk, static_cast<DOMElement*>(node), inTree, excluded, included);
            return;
        case DOMNode::ATTRIBUTE_NODE:
            if (included) output_.attribute(node->getNodeName(), node->getNodeValue());
            return;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
            if (included) {
                xercesc::DOMCharacterData* text = static_cast<xercesc::DOMCharacterData*>(node);
                output_.text(text->getData(), text->getLength());
            }
            return;
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            if (included) {
                output_.processingInstruction(node->getNodeName(), node->getNodeValue(),
                                              level_.lineBefore(), level_.lineAfter());
            }
            return;
        case DOMNode::COMMENT_NODE:
            if (included) {
                output_.comment(node->getNodeValue(), level_.lineBefore(), level_.lineAfter());
            }
            return;
        case DOMNode::DOCUMENT_NODE:
        case DOMNode::ENTITY_REFERENCE_NODE:
        case DOMNode::DOCUMENT_FRAGMENT_NODE:
            if (!excluded) walk.descend(Frame{false, false, false, axes_.mark()});
            return;
        case DOMNode::DOCUMENT_TYPE_NODE:
            return;
        case DOMNode::ENTITY_NODE:
        case DOMNode::NOTATION_NODE:
        default:
            if (included) {
                throw Exception(13006, Format("Uncanonicalizable node: Type %d",
                                              static_cast<int>(node->getNodeType())));
            }
            return;
    }
}

template <class Out, const Escapes& Text, const Escapes& Attribute>
void Run<Out, Text, Attribute>::visitElement(Walk& walk, DOMElement* e, bool inTree, bool excluded,
                                             bool included) {
    if (!replacements_.empty()) {
        ReplacementMap::iterator r = replacements_.find(e);
        if (r != replacements_.end()) {
            replace(e, r->value);
            return;
        }
    }

    Axes::Selection attributes;
    if (excluded) {
        attributes.kind = Axes::Selection::NONE;
    } else if (inTree && residualAcceptsAll_) {
        attributes.kind = notTreeSet_.size() ? Axes::Selection::OUTSIDE : Axes::Selection::ALL;
        attributes.set = &notTreeSet_;
    } else {
        attributes.kind = Axes::Selection::FILTER;
        attributes.filter = inTree ? &inTreeAttributes_ : &outOfTreeAttributes_;
    }
    const XMLCh* name = nullptr;
    if (included) {
        name = e->getNodeName();
        output_.startTag(name);
    }
    Axes::Mark scopes = axes_.mark();
    axes_.scope(e, included, attributes);
    output_.startTagContent(included, parentOutput_);

    if (excluded || !walk.descend(Frame{true, included, parentOutput_, scopes})) {
        if (included) output_.endEmptyElement(name);
        axes_.restore(scopes);
        return;
    }
    parentOutput_ = included;
    if (included) output_.endStartTag();
}

template <class Out, const Escapes& Text, const Escapes& Attribute>
void Run<Out, Text, Attribute>::replace(DOMNode* e, const NodeSet* replacement) {
    for (const ActiveReplacement* a = active_; a; a = a->outer) {
        if (a->element == e) throw Exception(13006, "Recursive replacement node set");
    }
    ActiveReplacement inner = {e, active_};
    C14n::execute(replacement, out_, mode_, parameters_, &inner);
}

// A run with the escaping the document's version asks for.
template <class Out>
void execute(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
             const CanonicalizerParameters* parameters, const ActiveReplacement* active) {
    const DOMDocument* document = DOMUtil::getOwnerDocument(nodeSet->root());
    const XMLCh* version = document ? document->getXmlVersion() : nullptr;
    if (version && StringUtil::eq(version, u"1.1")) {
        Run<Out, internal::kText11Canonical, internal::kAttribute11Canonical> r(nodeSet, out, mode,
                                                                                parameters, active);
        r.execute();
    } else {
        Run<Out, internal::kTextEscapes, internal::kAttributeEscapes> r(nodeSet, out, mode,
                                                                        parameters, active);
        r.execute();
    }
}

// Runs into `out`; what was written before a failure is still handed to the sink.
template <class Out>
void run(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
         const CanonicalizerParameters* parameters) {
    try {
        execute(nodeSet, out, mode, parameters, nullptr);
    } catch (...) {
        try {
            out.flush();
        } catch (...) {
        }
        throw;
    }
    out.flush();
}

}  // namespace

}  // namespace C14n

namespace internal {

void refuseCharacter(unsigned int unit) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", unit);
    throw Exception(13006, Format("Uncanonicalizable character: %s", code));
}

}  // namespace internal

namespace C14n {

void DOMCanonicalizer::canonicalize(const NodeSet* nodeSet, OctetSink* sink, Mode mode,
                                    const CanonicalizerParameters* parameters) {
    internal::Utf8Out out(*sink);
    run(nodeSet, out, mode, parameters);
}

void DOMCanonicalizer::canonicalize(const NodeSet* nodeSet, CharacterSink* sink, Mode mode,
                                    const CanonicalizerParameters* parameters) {
    internal::Utf16Out out(*sink);
    run(nodeSet, out, mode, parameters);
}

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
