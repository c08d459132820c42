// Canonical XML, inclusive and exclusive, with or without comments.
#ifndef AMBRITE_XML_C14N_H
#define AMBRITE_XML_C14N_H

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

}  // namespace C14n
}  // namespace XML
}  // namespace Ambrite

#endif
