// Canonical XML, inclusive and exclusive, with or without comments.
#ifndef AMBRITE_XML_C14N_H
#define AMBRITE_XML_C14N_H

#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/streams.h>

namespace Ambrite {
namespace XML {
namespace C14n {

typedef MyMap<DOMNode*, const NodeSet*, BasicComparator<DOMNode*>> ReplacementMap;
typedef MySet<const XMLCh*, StringComparator> PrefixSet;

/// The optional settings of one canonicalization run.
class AMXML_API CanonicalizerParameters : public Allocated {
public:
    CanonicalizerParameters();
    CanonicalizerParameters(const CanonicalizerParameters& other);
    CanonicalizerParameters& operator=(const CanonicalizerParameters& other);
    /// Destroys the replacement node sets and the prefix copies.
    virtual ~CanonicalizerParameters();

    /// Whether output elements in no namespace without an output ancestor get xmlns="".
    void emitNullApexXMLNS(bool emit) { emitNullApexXMLNS_ = emit; }
    bool emitNullApexXMLNS() const { return emitNullApexXMLNS_; }

    /// Adopts nodeSet, whose canonical form will stand in place of node; a null nodeSet removes
    /// the replacement, a null node destroys nodeSet.
    void replacementNodeSet(DOMNode* node, NodeSet* nodeSet);
    const ReplacementMap& replacementNodeSets() const { return replacementNodeSets_; }

    /// Adds a prefix that exclusive canonicalization treats inclusively; null means the default
    /// namespace. The string is copied.
    void unsuppressedNamespacePrefix(const XMLCh* prefix);
    const PrefixSet& unsuppressedNamespacePrefixes() const {
        return unsuppressedNamespacePrefixes_;
    }

    /// A new, independent copy.
    CanonicalizerParameters* clone() const;

private:
    void clear();
    void copyFrom(const CanonicalizerParameters& other);

    bool emitNullApexXMLNS_;
    ReplacementMap replacementNodeSets_;
    PrefixSet unsuppressedNamespacePrefixes_;
};

/// Writes the canonical form of a node set.
class AMXML_API DOMCanonicalizer {
public:
    /// Any other value behaves as CANONICAL; the fixed type makes every int a valid Mode.
    enum Mode : int {
        CANONICAL = 0,
        CANONICAL_WITH_COMMENTS = 1,
        EXCLUSIVE = 2,
        EXCLUSIVE_WITH_COMMENTS = 3
    };

    /// Writes UTF-8 into sink (flushed, not closed). Parameters may be null. Failures are
    /// Exception 13006 and leave the partial output in the sink.
    static void canonicalize(const NodeSet* nodeSet, OctetSink* sink, Mode mode,
                             const CanonicalizerParameters* parameters);
    /// Writes UTF-16 into sink; nothing is flushed.
    static void canonicalize(const NodeSet* nodeSet, CharacterSink* sink, Mode mode,
                             const CanonicalizerParameters* parameters);
};

/// Elements of a document chosen before it is read, for canonicalizing a part of it: the apex
/// (the element whose subtree is the part; the whole document when none is chosen) and elements
/// whose subtrees are left out. An element is chosen by child sequence or by ID value: the
/// attributes holding IDs are those the DTD types ID and those named with idAttribute().
///
/// Choices that find no element fail with Exception 13006 "No element at child sequence %S"
/// (the sequence as /1/2/3) or "No element with ID %S"; an ID value sought that two elements
/// carry fails with "More than one element with ID %S" wherever they stand, since a second
/// element of the same ID is how signature-wrapping attacks hide a forgery.
class AMXML_API DocumentSubset : public Allocated {
public:
    /// The whole document, nothing left out.
    DocumentSubset();
    virtual ~DocumentSubset();
    DocumentSubset(const DocumentSubset&) = delete;
    DocumentSubset& operator=(const DocumentSubset&) = delete;

    /// The apex is the element at this child sequence: steps[0] is the position of the document
    /// element among the document's element children (so 1), each further step the position of
    /// an element among the element children of the one before (1 for the first); the children
    /// of an entity reference count as children of its parent. Replaces an earlier apex; a
    /// sequence of no steps (or a null one) means no apex.
    void apex(const unsigned int* steps, unsigned int count);
    /// The apex is the element with this ID (copied); null means no apex.
    void apexId(const XMLCh* id);
    /// Leaves out the subtree of the element at this child sequence (as for apex()).
    void exclude(const unsigned int* steps, unsigned int count);
    /// Leaves out the subtree of the element with this ID (copied).
    void excludeId(const XMLCh* id);
    /// Leaves out every Signature element of the XML-Signature namespace with its subtree (the
    /// enveloped-signature transform); finding none is no failure.
    void excludeSignatures(bool exclude);
    bool excludeSignatures() const;
    /// Attributes of this namespace name (null or empty: none) and local name hold IDs too.
    void idAttribute(const XMLCh* namespaceURI, const XMLCh* localName);

    /// The same part of a parsed document as a new node set over it (owned by the caller), for
    /// DOMCanonicalizer: the document, restricted to the apex's subtree, minus the subtrees left
    /// out. Fails as described above.
    NodeSet* nodeSet(DOMDocument* document) const;

    struct Choices;

private:
    friend class StreamCanonicalizer;
    Choices* choices_;
};

/// Writes the canonical form of a document, or of a DocumentSubset of it, while the parser reads
/// it, without building a DOM: its memory grows with the depth of the document, not its size.
class AMXML_API StreamCanonicalizer {
public:
    /// Parses source as DOMUtil::parse does (the same configuration, bounds, refusals and
    /// Exceptions) and writes, as UTF-8 into sink (flushed, not closed), the bytes that
    /// DOMCanonicalizer writes for subset->nodeSet() of the parsed document, or for the whole
    /// document when subset is null. Parameters may be null; their replacement node sets name
    /// nodes of a DOM and fail with Exception 13006 "Replacement node sets need a DOM".
    /// Parse failures come first, as in the DOM path: a failure of canonicalization or of the
    /// subset's choices is thrown once the whole input has been read; the output stops where
    /// it occurred, and what was written before stays in the sink.
    static void canonicalize(OctetSource* source, OctetSink* sink, DOMCanonicalizer::Mode mode,
                             const CanonicalizerParameters* parameters,
                             const DocumentSubset* subset);
    /// As canonicalize() above, parsing with the given limits as DOMUtil::parse(source, limits)
    /// does.
    static void canonicalize(OctetSource* source, OctetSink* sink, DOMCanonicalizer::Mode mode,
                             const CanonicalizerParameters* parameters,
                             const DocumentSubset* subset, const DOMUtil::Limits& limits);
    /// As canonicalize() above; with uniqueIds, two elements carrying one value in attributes
    /// that hold IDs (those the DTD types ID and those named with subset->idAttribute()) fail
    /// with Exception 13006 "More than one element with ID %S", naming the first value met a
    /// second time, whether the subset seeks it or not and wherever the elements stand. That
    /// failure comes before those of the subset's choices. The values are kept for the whole
    /// parse, so memory then grows with the IDs the document carries as well; they count
    /// against the parse's memory bound as a DOM's attributes would.
    static void canonicalize(OctetSource* source, OctetSink* sink, DOMCanonicalizer::Mode mode,
                             const CanonicalizerParameters* parameters,
                             const DocumentSubset* subset, const DOMUtil::Limits& limits,
                             bool uniqueIds);
};

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite

#endif
