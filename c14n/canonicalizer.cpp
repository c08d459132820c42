#include <ambrite/xml/c14n.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNode.hpp>

#include <memory>
#include <vector>

#include <ambrite/xml/dom.h>

#include "c14n/axes.h"
#include "c14n/writer.h"

namespace Ambrite {
namespace XML {
namespace C14n {

using detail::AttrFilter;
using detail::Axes;
using detail::Scope;
using detail::ScopeBuilder;
using detail::Writer;

namespace {

const ConstantFilter kRejectAll(false);
const ReplacementMap kNoReplacements;

// The elements whose replacements are being written, innermost first: meeting one of them again
// means a replacement contains the element it replaces.
struct ActiveReplacement {
    const DOMNode* element;
    const ActiveReplacement* outer;
};

// Scopes a run created; freed when the element that made them is finished.
typedef std::unique_ptr<Scope> ScopePtr;

class Run {
public:
    Run(const NodeSet* nodeSet, Writer& out, DOMCanonicalizer::Mode mode,
        const CanonicalizerParameters* parameters, const ActiveReplacement* active);
    ~Run();
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
        const Scope* rendered;
        const Scope* inherited;
        Scope* own;  // the element's scope when it made one
    };

    DOMNode* visit(DOMNode* node);
    DOMNode* visitElement(DOMElement* e, bool inTree, bool excluded, bool included);
    void replace(DOMNode* e, const NodeSet* replacement);
    void inheritAncestorScopes();
    void lineFeed() { out_.piece(u"\n", 1); }

    const NodeSet* nodeSet_;
    Writer& out_;
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
    AttrFilter inTreeAttributes_;
    AttrFilter outOfTreeAttributes_;
    Axes axes_;

    std::vector<ScopePtr> fixedScopes_;  // baselines and the root's ancestor scopes
    const Scope* rendered_;
    const Scope* inherited_;
    bool parentOutput_;
    DOMNode* apex_;
    int position_;  // 0 not at document level, 1 before, 2 at, 3 after the document element
    DOMNode* documentElement_;
    std::vector<Frame> frames_;
};

Run::Run(const NodeSet* nodeSet, Writer& out, DOMCanonicalizer::Mode mode,
         const CanonicalizerParameters* parameters, const ActiveReplacement* active)
    : nodeSet_(nodeSet), out_(out), mode_(mode), parameters_(parameters), active_(active),
      comments_(mode == DOMCanonicalizer::CANONICAL_WITH_COMMENTS ||
                mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS),
      replacements_(parameters ? parameters->replacementNodeSets() : kNoReplacements),
      decomposition_(nodeSet), root_(decomposition_.root()),
      treeSet_(decomposition_.treeSet()), notTreeSet_(decomposition_.notTreeSet()),
      residual_(decomposition_.filter()),
      inTreeAttributes_(&notTreeSet_, false, residual_),
      outOfTreeAttributes_(&treeSet_, true, residual_),
      axes_(mode == DOMCanonicalizer::EXCLUSIVE || mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS,
            nodeSet->namespaceExpanded(), parameters && parameters->emitNullApexXMLNS(),
            parameters ? &parameters->unsuppressedNamespacePrefixes() : nullptr),
      rendered_(nullptr), inherited_(nullptr), parentOutput_(false), apex_(nullptr),
      position_(0), documentElement_(nullptr) {}

Run::~Run() {
    for (Frame& f : frames_) delete f.own;
}

void Run::inheritAncestorScopes() {
    fixedScopes_.emplace_back(axes_.baseline());
    rendered_ = fixedScopes_.back().get();
    fixedScopes_.emplace_back(axes_.baseline());
    inherited_ = fixedScopes_.back().get();

    std::vector<DOMElement*> ancestors;
    for (DOMNode* n = DOMUtil::getParentNode(root_); n; n = n->getParentNode()) {
        if (n->getNodeType() == DOMNode::ELEMENT_NODE) ancestors.push_back(static_cast<DOMElement*>(n));
    }
    for (std::size_t i = ancestors.size(); i-- > 0;) {
        ScopeBuilder s(inherited_);
        axes_.scope(ancestors[i], false, &kRejectAll, s);
        if (s.changed()) {
            fixedScopes_.emplace_back(s.release());
            inherited_ = fixedScopes_.back().get();
        }
    }
}

void Run::execute() {
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
            Frame& f = frames_.back();
            node = f.node;
            if (f.element) {
                if (f.included) {
                    out_.piece(u"</", 2);
                    out_.name(node->getNodeName());
                    out_.piece(u">", 1);
                }
                parentOutput_ = f.parentOutput;
                rendered_ = f.rendered;
                inherited_ = f.inherited;
                delete f.own;
            }
            frames_.pop_back();
        }
    }
}

DOMNode* Run::visit(DOMNode* node) {
    bool inTree = apex_ || treeSet_.contains(node);
    bool excluded = notTreeSet_.size() && notTreeSet_.contains(node);
    bool included = inTree && !excluded && residual_->accept(node);
    if (inTree && !apex_) apex_ = node;

    switch (node->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
            return visitElement(static_cast<DOMElement*>(node), inTree, excluded, included);
        case DOMNode::ATTRIBUTE_NODE:
            if (included) {
                out_.piece(u" ", 1);
                out_.name(node->getNodeName());
                out_.piece(u"=\"", 2);
                out_.attr(node->getNodeValue());
                out_.piece(u"\"", 1);
            }
            return nullptr;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
            if (included) out_.text(node->getNodeValue());
            return nullptr;
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            if (included) {
                if (position_ == 3) lineFeed();
                out_.piece(u"<?", 2);
                out_.name(node->getNodeName());
                const XMLCh* data = node->getNodeValue();
                if (data && *data) {
                    out_.piece(u" ", 1);
                    out_.name(data);
                }
                out_.piece(u"?>", 2);
                if (position_ == 1) lineFeed();
            }
            return nullptr;
        case DOMNode::COMMENT_NODE:
            if (included && comments_) {
                if (position_ == 3) lineFeed();
                out_.piece(u"<!--", 4);
                out_.name(node->getNodeValue());
                out_.piece(u"-->", 3);
                if (position_ == 1) lineFeed();
            }
            return nullptr;
        case DOMNode::DOCUMENT_NODE:
            ++position_;
            // fall through
        case DOMNode::ENTITY_REFERENCE_NODE:
        case DOMNode::DOCUMENT_FRAGMENT_NODE: {
            DOMNode* child = excluded ? nullptr : node->getFirstChild();
            if (child) {
                Frame f = {node, false, false, false, nullptr, nullptr, nullptr};
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

DOMNode* Run::visitElement(DOMElement* e, bool inTree, bool excluded, bool included) {
    if (position_ == 1) position_ = 2;
    if (!replacements_.empty()) {
        ReplacementMap::iterator r = replacements_.find(e);
        if (r != replacements_.end()) {
            replace(e, r->value);
            return nullptr;
        }
    }

    const NodeSet::Filter* attributes = excluded ? static_cast<const NodeSet::Filter*>(&kRejectAll)
                                        : inTree ? &inTreeAttributes_
                                                 : &outOfTreeAttributes_;
    if (included) {
        out_.piece(u"<", 1);
        out_.name(e->getNodeName());
    }
    ScopeBuilder s(inherited_);
    axes_.scope(e, included, attributes, s);
    axes_.startTag(out_, included, parentOutput_, s.scope(), rendered_, inherited_);

    DOMNode* child = excluded ? nullptr : e->getFirstChild();
    if (!child) {
        if (included) {
            out_.piece(u"></", 3);
            out_.name(e->getNodeName());
            out_.piece(u">", 1);
        }
        return nullptr;
    }
    Frame f = {e, true, included, parentOutput_, rendered_, inherited_, nullptr};
    frames_.push_back(f);
    inherited_ = s.scope();
    frames_.back().own = s.release();
    parentOutput_ = included;
    if (included) {
        rendered_ = inherited_;
        out_.piece(u">", 1);
    }
    return child;
}

void Run::replace(DOMNode* e, const NodeSet* replacement) {
    for (const ActiveReplacement* a = active_; a; a = a->outer) {
        if (a->element == e) throw Exception(13006, "Recursive replacement node set");
    }
    ActiveReplacement inner = {e, active_};
    Run nested(replacement, out_, mode_, parameters_, &inner);
    nested.execute();
}

void run(const NodeSet* nodeSet, CharacterSink& sink, DOMCanonicalizer::Mode mode,
         const CanonicalizerParameters* parameters) {
    Writer out(sink);
    Run r(nodeSet, out, mode, parameters, nullptr);
    r.execute();
}

}  // namespace

void DOMCanonicalizer::canonicalize(const NodeSet* nodeSet, OctetSink* sink, Mode mode,
                                    const CanonicalizerParameters* parameters) {
    UTF8Sink utf8(*sink, 4096);
    try {
        run(nodeSet, utf8, mode, parameters);
    } catch (...) {
        // What was written before the failure stays in the sink.
        try {
            utf8.flush();
        } catch (...) {
        }
        throw;
    }
    utf8.flush();
}

void DOMCanonicalizer::canonicalize(const NodeSet* nodeSet, CharacterSink* sink, Mode mode,
                                    const CanonicalizerParameters* parameters) {
    run(nodeSet, *sink, mode, parameters);
}

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
