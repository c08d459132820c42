// What amxml verify --explain and --store-references add to the check of a document: the part
// of the signed document each reference covers, the elements no valid signature covers, and
// the octets each reference digested, written to files.
#ifndef AMXML_EXPLAIN_H
#define AMXML_EXPLAIN_H

#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/streams.h>

#include <memory>
#include <string>

namespace amxml {

/// Follows the check of one document, signature by signature and reference by reference, as
/// verify calls it; the lines it writes go to stdout after the verdict lines they explain.
class Explain {
public:
    /// For `document`, which outlives this. `explain` writes coverage lines; a non-empty
    /// `directory` is where octets are stored, created now with its parents (ToolError when it
    /// cannot be).
    Explain(Ambrite::XML::DOMDocument* document, bool explain, const std::string& directory);
    ~Explain();
    Explain(const Explain&) = delete;
    Explain& operator=(const Explain&) = delete;

    /// Called when reference `k` (from 1) of `signature` is about to be digested through
    /// `digest`; `coverage` is its node set on the signed document (null: every node), read now
    /// and not kept. Gives the sink the octets must be written to instead of `digest`, which
    /// passes them on to it; ToolError when the file storing them cannot be opened.
    Ambrite::XML::OctetSink* octets(const Ambrite::XML::DOMElement* signature, unsigned int k,
                                    const Ambrite::XML::NodeSet::Filter* coverage,
                                    Ambrite::XML::OctetSink* digest);
    /// After the line of a reference: what it covers when `ok`. ToolError when its octets
    /// could not be stored.
    void endReference(bool ok);
    /// The canonical SignedInfo of `signature`, stored; ToolError when it cannot be.
    void signedInfo(const Ambrite::XML::DOMElement* signature, const std::string& canonical);
    /// After the line of a signature: a warning when its OK references cover nothing outside
    /// it. What they cover counts for the document only when the signature is `valid`.
    void endSignature(bool valid);
    /// After every signature: the elements no OK reference of a valid signature covers.
    void endDocument();

private:
    class Tee;

    std::string storePath(const Ambrite::XML::DOMElement* signature, const std::string& suffix);
    void cover(const Ambrite::XML::NodeSet::Filter* coverage);

    Ambrite::XML::DOMDocument* document_;
    bool explain_;
    std::string directory_;
    // The reference being checked: its signature, its coverage, and the file of its octets.
    const Ambrite::XML::DOMElement* signature_ = nullptr;
    std::unique_ptr<Ambrite::XML::NodeSet::Filter> coverage_;  // null: every node
    bool digested_ = false;
    std::unique_ptr<Tee> tee_;
    // Of the current signature: whether an OK reference covered something outside it, and
    // the elements they covered and those above them, added to the document's when it is valid.
    bool outside_ = false;
    Ambrite::XML::NodeHashSet signatureCovered_, signatureAbove_;
    Ambrite::XML::NodeHashSet covered_, above_;
};

}  // namespace amxml

#endif
