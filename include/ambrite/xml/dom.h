// DOM support: starting Xerces-C, loading and creating documents, node relations, escaping,
// the DOM serializer and URI helpers.
#ifndef AMBRITE_XML_DOM_H
#define AMBRITE_XML_DOM_H

#include <ambrite/xml/foundation.h>
#include <ambrite/xml/streams.h>

XERCES_CPP_NAMESPACE_BEGIN
class DOMAttr;
class DOMElement;
class DOMException;
class DOMLSInput;
class DOMLSParser;
XERCES_CPP_NAMESPACE_END

namespace Ambrite {
namespace XML {

using xercesc::DOMAttr;
using xercesc::DOMElement;

class AMXML_API DOMUtil {
public:
    /// Starts Xerces-C on construction and stops it on destruction; one Initialize per holder.
    class AMXML_API Init {
    public:
        /// Throws Exception 8 "Initialization failed".
        Init();
        virtual ~Init();
        Init(const Init&) = delete;
        Init& operator=(const Init&) = delete;
    };

    /// Parses a document with the one well-formed, safe configuration. The caller owns the
    /// document (release with DocumentRelease); the source stays with the caller.
    /// Hostile input is bounded; beyond a bound the parse fails with Exception 9, "Fatal DOM
    /// error: Line L, column C, offset -1: " and one of these messages:
    /// - at most 10,000 entity expansions (the parser's own message);
    /// - "Entity expansion limit exceeded": at most 10,000,000 UTF-16 units of entity
    ///   replacement text, DTD default attribute values and attribute text beyond the bytes read;
    /// - "Nesting depth limit exceeded": elements and entity references nest at most 120,000
    ///   deep;
    /// - "Nesting cost limit exceeded": namespace lookup walks every open element, so the depths
    ///   of all elements, each times one plus its prefixed attributes other than xml: and
    ///   xmlns:, may sum to 2^33 plus 256 per byte read (at worst some 20 seconds of scanning
    ///   on a current core, plus under a microsecond per byte);
    /// - "Parse memory limit exceeded": the parse may hold 128 MiB plus 256 bytes per byte read,
    ///   and request 32 times that in all.
    /// Parsers from wellFormedParser() apply the same bounds; they count the bytes read only
    /// through inputSourceAdapter() inputs, other inputs get the fixed allowances alone.
    static DOMDocument* parse(OctetSource* source);
    /// A new empty document owned by the caller.
    static DOMDocument* newDocument();
    /// A new parser in the library's configuration and with the bounds of parse(), owned by the
    /// caller (ParserRelease).
    static xercesc::DOMLSParser* wellFormedParser();
    /// An input over `source` (adopted when `adopt`, also when this throws), for callers that
    /// drive a parser themselves; the caller releases it with release(). The system id is
    /// copied.
    static xercesc::DOMLSInput* inputSourceAdapter(OctetSource* source, bool adopt,
                                                   const XMLCh* systemId);
    /// "NAME: message" for a Xerces-C DOMException.
    static Format format(const xercesc::DOMException& e);

    /// The document itself for a document node, otherwise the node's owner document.
    static DOMDocument* getOwnerDocument(DOMNode* n);
    /// The owner element for an attribute, otherwise the DOM parent.
    static DOMNode* getParentNode(DOMNode* n);
    /// -1 when a precedes its sibling b, 1 when it follows, 0 otherwise (equal or not siblings).
    static int compareSiblings(DOMNode* a, DOMNode* b);
};

struct AMXML_API ParserRelease {
    void operator()(xercesc::DOMLSParser* parser) const;
};

struct AMXML_API DocumentRelease {
    /// `document` must not be null.
    void operator()(DOMDocument* document) const;
};

/// Makes attr the element's ID attribute unless it already is one.
AMXML_API void AMXML_Element_setIdAttributeNode(DOMElement* element, DOMAttr* attr);

/// Writes an attribute value with the references canonical XML prescribes (tab, LF, CR, '"',
/// '&', '<').
AMXML_API void escapeAttr(const XMLCh* value, CharacterSink& out);
/// Writes character data with the references canonical XML prescribes (CR, '&', '<', '>').
AMXML_API void escapeText(const XMLCh* value, CharacterSink& out);

/// A plain, non-pretty-printing XML writer.
class AMXML_API DOMSerializer {
public:
    class AMXML_API Parameters {
    public:
        /// Copies the strings; any of them may be null.
        Parameters(bool preamble, const XMLCh* systemID, const XMLCh* publicID,
                   const XMLCh* internalSubset);
        ~Parameters();
        Parameters(const Parameters&) = delete;
        Parameters& operator=(const Parameters&) = delete;

        bool preamble() const { return preamble_; }
        const XMLCh* systemID() const { return systemID_; }
        const XMLCh* publicID() const { return publicID_; }
        const XMLCh* internalSubset() const { return internalSubset_; }

    private:
        bool preamble_;
        XMLCh* systemID_;
        XMLCh* publicID_;
        XMLCh* internalSubset_;
    };

    /// Writes node (a document or any subtree); null parameters mean a declaration and the
    /// document's own DOCTYPE.
    static void serialize(DOMNode* node, CharacterSink& out, const Parameters* parameters);
    /// Writes UTF-8 into out, which is flushed but not closed.
    static void serialize(DOMNode* node, OctetSink& out, const Parameters* parameters);
};

/// Operations on URI strings. Every string given is the caller's to free with utfree; every
/// failure is Exception 12.
class AMXML_API URIUtil {
public:
    /// The current directory as a file: URI ending in "/".
    static XMLCh* cwd();
    /// uri made absolute against base (which may be null for an absolute uri), path normalised.
    static XMLCh* resolve(const XMLCh* uri, const XMLCh* base);
    /// uri up to and including its last "/".
    static XMLCh* pathname(const XMLCh* uri);
    /// The part of uri after its last "/".
    static XMLCh* filename(const XMLCh* uri);
    /// A Latin-1 copy of uri.
    static char* transcode(const XMLCh* uri);
    /// uri with its percent escapes decoded (ASCII only).
    static XMLCh* unescape(const XMLCh* uri);
};

}  // namespace XML
}  // namespace Ambrite

#endif
