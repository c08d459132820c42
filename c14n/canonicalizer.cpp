#include <ambrite/xml/c14n.h>

#include <xercesc/dom/DOMCharacterData.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include <vector>

#include <ambrite/xml/dom.h>

#include "c14n/axes.h"
#include "c14n/writer.h"

namespace Ambrite {
namespace XML {
namespace C14n {

using detail::ATTRIBUTE;
using detail::AttrFilter;
using detail::Axes;
using detail::RAW;
using detail::TEXT;

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

// One canonicalization run: a walk of the root's subtree in document order with an explicit
// stack, so that deep documents need no call depth and no parent lookups.
template <class Out>
class Run {
public:
    Run(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
        const CanonicalizerParameters* parameters, const ActiveReplacement* active);
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    void execute();

private:
    // One entry per node whose children are being walked.
    struct Frame {
        DOMNode* node;
        bool element;
        bool included;  // the element's start tag was written
        bool parentOutput;
        Axes::Mark scopes;
    };

    DOMNode* visit(DOMNode* node);
    DOMNode* visitElement(DOMElement* e, bool inTree, bool excluded, bool included);
    void replace(DOMNode* e, const NodeSet* replacement);
    void inheritAncestorScopes();
    void lineFeed() { out_.markup("\n"); }

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

    bool parentOutput_;
    DOMNode* apex_;
    int position_;  // 0 not at document level, 1 before, 2 at, 3 after the document element
    DOMNode* documentElement_;
    std::vector<Frame> frames_;
};

template <class Out>
Run<Out>::Run(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
              const CanonicalizerParameters* parameters, const ActiveReplacement* active)
    : out_(out), mode_(mode), parameters_(parameters), active_(active),
      comments_(mode == DOMCanonicalizer::CANONICAL_WITH_COMMENTS ||
                mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS),
      replacements_(parameters ? parameters->replacementNodeSets() : kNoReplacements),
      decomposition_(nodeSet), root_(decomposition_.root()),
      treeSet_(decomposition_.treeSet()), notTreeSet_(decomposition_.notTreeSet()),
      residual_(decomposition_.filter()), residualAcceptsAll_(acceptsEverything(residual_)),
      inTreeAttributes_(&notTreeSet_, false, residual_),
      outOfTreeAttributes_(&treeSet_, true, residual_),
      axes_(mode == DOMCanonicalizer::EXCLUSIVE || mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS,
            nodeSet->namespaceExpanded(), parameters && parameters->emitNullApexXMLNS(),
            parameters ? &parameters->unsuppressedNamespacePrefixes() : nullptr),
      parentOutput_(false), apex_(nullptr), position_(0), documentElement_(nullptr) {}

// The scope the root inherits: its ancestor elements from the outermost down, none of them
// output and none of their attributes in the set.
template <class Out>
void Run<Out>::inheritAncestorScopes() {
    std::vector<DOMElement*> ancestors;
    for (DOMNode* n = DOMUtil::getParentNode(root_); n; n = n->getParentNode()) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) ancestors.push_back(static_cast<DOMElement*>(n));
    }
    Axes::Selection none;
    none.kind = Axes::Selection::NONE;
    for (std::size_t i = ancestors.size(); i-- > 0;) axes_.scope(ancestors[i], false, none);
}

template <class Out>
void Run<Out>::execute() {
    inheritAncestorScopes();

    DOMNode* parent = DOMUtil::getParentNode(root_);
    DOMDocument* document = DOMUtil::getOwnerDocument(root_);
    documentElement_ = document ? document->getDocumentElement() : nullptr;
    if (parent && parent == document) {
        int order = DOMUtil::compareSiblings(root_, documentElement_);
        position_ = order < 0 ? 1 : order == 0 ? 2 : 3;
    }

    DOMNode* node = root_;
    for (;;) {
        if (DOMNode* child = visit(node)) {
            node = child;
            continue;
        }
        // Move on: the next sibling, or climb, closing the elements whose children are done.
        for (;;) {
            if (node == root_) return;
            if (node == apex_) apex_ = nullptr;
            if (position_ == 2 && node == documentElement_) position_ = 3;
            if (DOMNode* next = node->getNextSibling()) {
                node = next;
                break;
            }
            const Frame& f = frames_.back();
            node = f.node;
            if (f.element) {
                if (f.included) {
                    out_.name("</", node->getNodeName(), ">");
                }
                parentOutput_ = f.parentOutput;
                axes_.restore(f.scopes);
            }
            frames_.pop_back();
        }
    }
}

template <class Out>
DOMNode* Run<Out>::visit(DOMNode* node) {
    bool inTree = apex_ || treeSet_.contains(node);
    bool excluded = notTreeSet_.size() && notTreeSet_.contains(node);
    bool included = inTree && !excluded && (residualAcceptsAll_ || residual_->accept(node));
    if (inTree && !apex_) apex_ = node;

    switch (node->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
            return visitElement(static_cast<DOMElement*>(node), inTree, excluded, included);
        case DOMNode::ATTRIBUTE_NODE:
            if (included) {
                out_.name(" ", node->getNodeName(), "=\"");
                out_.template put<ATTRIBUTE>(node->getNodeValue());
                out_.markup("\"");
            }
            return nullptr;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
            if (included) {
                xercesc::DOMCharacterData* text = static_cast<xercesc::DOMCharacterData*>(node);
                out_.template put<TEXT>(text->getData(), text->getLength());
            }
            return nullptr;
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            if (included) {
                if (position_ == 3) lineFeed();
                out_.name("<?", node->getNodeName(), "");
                const XMLCh* data = node->getNodeValue();
                if (data && *data) {
                    out_.markup(" ");
                    out_.template put<RAW>(data);
                }
                out_.markup("?>");
                if (position_ == 1) lineFeed();
            }
            return nullptr;
        case DOMNode::COMMENT_NODE:
            if (included && comments_) {
                if (position_ == 3) lineFeed();
                out_.markup("<!--");
                out_.template put<RAW>(node->getNodeValue());
                out_.markup("-->");
                if (position_ == 1) lineFeed();
            }
            return nullptr;
        case DOMNode::DOCUMENT_NODE:
            ++position_;
            [[fallthrough]];
        case DOMNode::ENTITY_REFERENCE_NODE:
        case DOMNode::DOCUMENT_FRAGMENT_NODE: {
            DOMNode* child = excluded ? nullptr : node->getFirstChild();
            if (child) {
                Frame f = {node, false, false, false, axes_.mark()};
                frames_.push_back(f);
            }
            return child;
        }
        case DOMNode::DOCUMENT_TYPE_NODE:
            return nullptr;
        case DOMNode::ENTITY_NODE:
        case DOMNode::NOTATION_NODE:
        default:
            if (included) {
                throw Exception(13006, Format("Uncanonicalizable node: Type %d",
                                              static_cast<int>(node->getNodeType())));
            }
            return nullptr;
    }
}

template <class Out>
DOMNode* Run<Out>::visitElement(DOMElement* e, bool inTree, bool excluded, bool included) {
    if (position_ == 1) position_ = 2;
    if (!replacements_.empty()) {
        ReplacementMap::iterator r = replacements_.find(e);
        if (r != replacements_.end()) {
            replace(e, r->value);
            return nullptr;
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
        out_.name("<", name, "");
    }
    Axes::Mark scopes = axes_.mark();
    axes_.scope(e, included, attributes);
    axes_.startTag(included, parentOutput_);
    for (const Axes::Entry* a = axes_.begin(); a != axes_.end(); ++a) {
        out_.name(" ", a->name, "=\"");
        out_.template put<ATTRIBUTE>(a->value);
        out_.markup("\"");
    }

    DOMNode* child = excluded ? nullptr : e->getFirstChild();
    if (!child) {
        if (included) {
            out_.name("></", name, ">");
        }
        axes_.restore(scopes);
        return nullptr;
    }
    Frame f = {e, true, included, parentOutput_, scopes};
    frames_.push_back(f);
    parentOutput_ = included;
    if (included) out_.markup(">");
    return child;
}

template <class Out>
void Run<Out>::replace(DOMNode* e, const NodeSet* replacement) {
    for (const ActiveReplacement* a = active_; a; a = a->outer) {
        if (a->element == e) throw Exception(13006, "Recursive replacement node set");
    }
    ActiveReplacement inner = {e, active_};
    Run nested(replacement, out_, mode_, parameters_, &inner);
    nested.execute();
}

// Runs into `out`; what was written before a failure is still handed to the sink.
template <class Out>
void run(const NodeSet* nodeSet, Out& out, DOMCanonicalizer::Mode mode,
         const CanonicalizerParameters* parameters) {
    try {
        Run<Out> r(nodeSet, out, mode, parameters, nullptr);
        r.execute();
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

void DOMCanonicalizer::canonicalize(const NodeSet* nodeSet, OctetSink* sink, Mode mode,
                                    const CanonicalizerParameters* parameters) {
    detail::Utf8Out out(*sink);
    run(nodeSet, out, mode, parameters);
}

void DOMCanonicalizer::canonicalize(const NodeSet* nodeSet, CharacterSink* sink, Mode mode,
                                    const CanonicalizerParameters* parameters) {
    detail::Utf16Out out(*sink);
    run(nodeSet, out, mode, parameters);
}

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
