#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "c14n/internal.h"

namespace Ambrite {
namespace XML {
namespace C14n {

using internal::Axes;

namespace {

const DocumentSubset::Choices kWholeDocument;
// Bytes of ID values charged to the parse at a time.
constexpr std::size_t kCarrierCharge = 1 << 16;

// One streaming run: the parser's events fed to the canonical output core in document order,
// deciding element by element as the DOM canonicalizer decides node by node for the node set
// DocumentSubset::nodeSet() describes. That walk computes the scope of every element it visits
// (all but those inside excluded subtrees), so this run does too, for the same failures.
class StreamRun : public internal::StreamHandler {
public:
    StreamRun(OctetSink& sink, DOMCanonicalizer::Mode mode,
              const CanonicalizerParameters* parameters, const DocumentSubset::Choices& choices,
              bool uniqueIds);
    StreamRun(const StreamRun&) = delete;
    StreamRun& operator=(const StreamRun&) = delete;

    void startElement(const XMLCh* name, const XMLCh* localName, const XMLCh* prefix,
                      const XMLCh* namespaceURI,
                      const internal::StreamAttributes& attributes) override;
    void endElement(const XMLCh* name) override;
    void characters(const XMLCh* text, std::size_t length) override;
    void comment(const XMLCh* text) override;
    void processingInstruction(const XMLCh* target, const XMLCh* data) override;

    /// After the parse: hands the output to the sink, then throws what failed.
    void finish();
    /// Hands what was written to the sink after a failure of the parse.
    void abandon();

private:
    // Kept for every open element outside excluded subtrees.
    struct Frame {
        Axes::Mark scopes;
        bool included;
        bool parentOutput;
        bool apex;
    };
    enum Position { BEFORE_ELEMENT, IN_ELEMENT, AFTER_ELEMENT };

    void scope(const XMLCh* prefix, const XMLCh* namespaceURI,
               const internal::StreamAttributes& attributes, bool included);
    bool output() const { return inTree_ && !skipped_ && !failure_; }
    void hold(const Exception& e);
    void idValue(const XMLCh* value);

    internal::Utf8Out out_;
    Axes axes_;
    // Characters that canonical XML cannot write (the controls an XML 1.1 document may hold as
    // references) occur only in XML 1.1 documents, so every document is written with the tables
    // that refuse them.
    internal::CanonicalOutput<internal::Utf8Out, false, internal::kText11Canonical,
                              internal::kAttribute11Canonical>
        output_;
    internal::SubsetMatcher matcher_;
    const bool wholeDocument_;
    // With uniqueIds: every ID value met, with the element that last carried it (counted from
    // 1), and the first value a second element carried.
    const bool uniqueIds_;
    std::unordered_map<std::u16string, std::uint64_t> carriers_;
    std::size_t carriersHeld_;  // bytes, of which carriersCharged_ are charged to the parse
    std::size_t carriersCharged_;
    std::uint64_t elements_;
    std::unique_ptr<std::u16string> duplicate_;

    std::vector<Frame> frames_;
    std::size_t depth_;
    std::size_t skipped_;  // open elements of an excluded subtree
    bool inTree_;          // in the apex's subtree (from the start for a whole document)
    bool apexDone_;
    bool parentOutput_;
    Position position_;
    // A failure of canonicalization, thrown once the parse is over.
    std::unique_ptr<Exception> failure_;
};

StreamRun::StreamRun(OctetSink& sink, DOMCanonicalizer::Mode mode,
                     const CanonicalizerParameters* parameters,
                     const DocumentSubset::Choices& choices, bool uniqueIds)
    : out_(sink),
      axes_(
          mode == DOMCanonicalizer::EXCLUSIVE || mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS,
          false, parameters && parameters->emitNullApexXMLNS(),
          parameters ? &parameters->unsuppressedNamespacePrefixes() : nullptr, false),
      output_(out_, axes_,
              mode == DOMCanonicalizer::CANONICAL_WITH_COMMENTS ||
                  mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS),
      matcher_(choices),
      wholeDocument_(!choices.hasApex),
      uniqueIds_(uniqueIds),
      carriersHeld_(0),
      carriersCharged_(0),
      elements_(0),
      depth_(0),
      skipped_(0),
      inTree_(wholeDocument_),
      apexDone_(false),
      parentOutput_(false),
      position_(BEFORE_ELEMENT) {}

// A relative namespace URI ends the output; the failure waits for the end of the parse. The DOM
// binds an element's attributes in the order of their qualified names, so of two relative ones
// the failure names the first in that order.
void StreamRun::scope(const XMLCh* prefix, const XMLCh* namespaceURI,
                      const internal::StreamAttributes& attributes, bool included) {
    Axes::Selection selection;
    selection.kind = included ? Axes::Selection::ALL : Axes::Selection::NONE;
    axes_.beginElement();
    internal::StreamAttribute a;
    for (std::size_t i = 0, n = attributes.size(); i < n; ++i) {
        attributes.get(i, a);
        axes_.addAttribute(nullptr, a.name, a.localName, a.prefix, a.namespaceURI, a.value,
                           a.pooledValue);
    }
    const Axes::Mark before = axes_.mark();
    try {
        axes_.scope(prefix, namespaceURI, included, selection);
        return;
    } catch (const Exception& e) {
        if (e.id() != 13006) throw;
        failure_.reset(new Exception(e));
    }
    axes_.restore(before);
    axes_.orderAttributesByName();
    try {
        axes_.scope(prefix, namespaceURI, included, selection);
    } catch (const Exception& e) {
        if (e.id() != 13006) throw;
        failure_.reset(new Exception(e));
    }
}

void StreamRun::startElement(const XMLCh* name, const XMLCh* localName, const XMLCh* prefix,
                             const XMLCh* namespaceURI,
                             const internal::StreamAttributes& attributes) {
    ++depth_;
    if (position_ == BEFORE_ELEMENT) position_ = IN_ELEMENT;
    matcher_.startElement(namespaceURI, localName);
    ++elements_;
    if (matcher_.seeksIds() || uniqueIds_) {
        internal::StreamAttribute a;
        for (std::size_t i = 0, n = attributes.size(); i < n; ++i) {
            attributes.get(i, a);
            if (a.isId || matcher_.holdsIds(a.namespaceURI, a.localName)) idValue(a.value);
        }
    }
    if (skipped_ || failure_) {
        if (skipped_) ++skipped_;
        return;
    }
    if (matcher_.excluded()) {
        // Its scope is computed, and nothing of it written.
        const Axes::Mark scopes = axes_.mark();
        scope(prefix, namespaceURI, attributes, false);
        axes_.restore(scopes);
        skipped_ = 1;
        return;
    }
    const bool apex = matcher_.apex() && !inTree_ && !apexDone_;
    if (apex) inTree_ = true;
    const bool included = inTree_;
    if (included) output_.startTag(name);
    const Axes::Mark scopes = axes_.mark();
    scope(prefix, namespaceURI, attributes, included);
    if (failure_) return;
    // Without knowing yet whether children follow: "<e>" and "</e>" give the same bytes as
    // "<e" and "></e>".
    if (included) {
        try {
            output_.startTagContent(true, parentOutput_);
            output_.endStartTag();
        } catch (const Exception& e) {
            hold(e);
        }
    }
    frames_.push_back(Frame{scopes, included, parentOutput_, apex});
    parentOutput_ = included;
}

void StreamRun::endElement(const XMLCh* name) {
    --depth_;
    matcher_.endElement();
    if (depth_ == 0) position_ = AFTER_ELEMENT;
    if (failure_) return;
    if (skipped_) {
        --skipped_;
        return;
    }
    const Frame f = frames_.back();
    frames_.pop_back();
    if (f.included) output_.endTag(name);
    parentOutput_ = f.parentOutput;
    axes_.restore(f.scopes);
    if (f.apex) {
        inTree_ = false;
        apexDone_ = true;
    }
}

void StreamRun::characters(const XMLCh* text, std::size_t length) {
    if (!output()) return;
    try {
        output_.text(text, length);
    } catch (const Exception& e) {
        hold(e);
    }
}

// An ID value of the element that has just started.
void StreamRun::idValue(const XMLCh* value) {
    if (matcher_.seeksIds()) matcher_.idValue(value);
    if (!uniqueIds_) return;
    auto carrier = carriers_.emplace(value, elements_);
    if (carrier.second) {
        // The values are held as a DOM holds its attributes, and charged to the parse alike, in
        // steps that the parse's memory bound checks: a document of countless IDs meets that
        // bound here as it would there.
        carriersHeld_ += 64 + 2 * carrier.first->first.size();
        if (carriersHeld_ - carriersCharged_ >= kCarrierCharge) {
            if (internal::ParseBounds* bounds = internal::ParseBounds::active()) {
                bounds->allocating(carriersHeld_ - carriersCharged_, nullptr, 0);
            }
            carriersCharged_ = carriersHeld_;
        }
        return;
    }
    if (carrier.first->second == elements_) return;
    carrier.first->second = elements_;
    if (!duplicate_) duplicate_.reset(new std::u16string(carrier.first->first));
}

// A character canonical XML cannot write ends the output; the failure waits for the end of the
// parse, as the DOM path parses the whole document before it canonicalizes.
void StreamRun::hold(const Exception& e) {
    if (e.id() != 13006) throw;
    failure_.reset(new Exception(e));
}

void StreamRun::comment(const XMLCh* text) {
    if (output()) {
        output_.comment(text, position_ == AFTER_ELEMENT, position_ == BEFORE_ELEMENT);
    }
}

void StreamRun::processingInstruction(const XMLCh* target, const XMLCh* data) {
    if (output()) {
        output_.processingInstruction(target, data, position_ == AFTER_ELEMENT,
                                      position_ == BEFORE_ELEMENT);
    }
}

// The choices fail before canonicalization, as DocumentSubset::nodeSet() fails before the DOM
// canonicalizer runs.
void StreamRun::finish() {
    out_.flush();
    if (duplicate_) {
        throw Exception(13006, Format("More than one element with ID %S", duplicate_->c_str()));
    }
    matcher_.finish();
    if (failure_) throw Exception(*failure_);
}

void StreamRun::abandon() {
    try {
        out_.flush();
    } catch (...) {
    }
}

}  // namespace

void StreamCanonicalizer::canonicalize(OctetSource* source, OctetSink* sink,
                                       DOMCanonicalizer::Mode mode,
                                       const CanonicalizerParameters* parameters,
                                       const DocumentSubset* subset) {
    canonicalize(source, sink, mode, parameters, subset, DOMUtil::Limits());
}

void StreamCanonicalizer::canonicalize(OctetSource* source, OctetSink* sink,
                                       DOMCanonicalizer::Mode mode,
                                       const CanonicalizerParameters* parameters,
                                       const DocumentSubset* subset,
                                       const DOMUtil::Limits& limits) {
    canonicalize(source, sink, mode, parameters, subset, limits, false);
}

void StreamCanonicalizer::canonicalize(OctetSource* source, OctetSink* sink,
                                       DOMCanonicalizer::Mode mode,
                                       const CanonicalizerParameters* parameters,
                                       const DocumentSubset* subset, const DOMUtil::Limits& limits,
                                       bool uniqueIds) {
    if (parameters && !parameters->replacementNodeSets().empty()) {
        throw Exception(13006, "Replacement node sets need a DOM");
    }
    StreamRun run(*sink, mode, parameters, subset ? *subset->choices_ : kWholeDocument, uniqueIds);
    try {
        internal::streamParse(source, run, limits);
    } catch (...) {
        run.abandon();
        throw;
    }
    run.finish();
}

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite
