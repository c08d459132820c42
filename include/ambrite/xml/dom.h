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

    /// The bounds of a parse that callers may set; parse() documents the fixed ones.
    class AMXML_API Limits {
    public:
        /// Deepest nesting of elements and entity references by default: 10,000 levels, for
        /// which the namespace lookups of the scanner take a small fraction of a second.
        static constexpr unsigned int kDefaultMaxDepth = 10000;
        /// Most memory one parse may hold by default (the document included): 4 GiB.
        static constexpr unsigned long long kDefaultMaxMemory = 4ull << 30;

        /// The library's defaults.
        Limits() : maxDepth_(kDefaultMaxDepth), maxMemory_(kDefaultMaxMemory) {}

        unsigned int maxDepth() const { return maxDepth_; }
        /// Deeper documents fail; the scanner's time grows with the square of the depth (some
        /// 10 s of CPU at 100,000 levels), so raise it only for trusted input.
        void maxDepth(unsigned int depth) { maxDepth_ = depth; }
        unsigned long long maxMemory() const { return maxMemory_; }
        /// Bytes the parse may hold at once, the document it builds included (a DOM takes some
        /// 20 bytes per byte of markup-dense input).
        void maxMemory(unsigned long long bytes) { maxMemory_ = bytes; }

    private:
        unsigned int maxDepth_;
        unsigned long long maxMemory_;
    };

    /// Parses a document with the one well-formed, safe configuration and the default Limits.
    /// The caller owns the document (release with DocumentRelease); the source stays with the
    /// caller. Documents in UTF-7 (under whatever name), inputs that end inside a character
    /// (UTF-8, UTF-16, UCS-4 and, in XML 1.0 documents, encodings that write markup as ASCII)
    /// and DTD defaults declaring what no document may write (xml bound elsewhere, xmlns) fail
    /// with Exception 9.
    /// Hostile input is bounded; beyond a bound the parse fails with Exception 9, "Fatal DOM
    /// error: Line L, column C, offset -1: " and one of these messages:
    /// - at most 10,000 entity expansions (the parser's own message);
    /// - "Entity expansion limit exceeded": at most 10,000,000 UTF-16 units of entity
    ///   replacement text, DTD default attribute values and attribute text beyond the bytes read;
    /// - "Entity declaration limit exceeded": at most 10,000 entity and notation declarations;
    /// - "Attribute default limit exceeded": DTD defaults make at most 100,000 attributes (in
    ///   the elements and in their maps of defaults), plus one per two bytes read;
    /// - "Nesting depth limit exceeded": elements and entity references nest at most
    ///   Limits::maxDepth() deep (10,000 by default);
    /// - "Attribute limit exceeded": an element has at most 10,000 attributes, namespace
    ///   declarations and DTD defaults included (a start tag far beyond fails while scanned);
    /// - "Namespace declaration limit exceeded": at most 10,000 namespace declarations, or
    ///   maxDepth() if that is more, are in scope at once;
    /// - "Nesting cost limit exceeded": the scanner looks each element's and prefixed
    ///   attribute's prefix up through the open elements and the declarations in scope; these
    ///   lookups may walk maxDepth() * (maxDepth() + 1) steps (a chain at the depth bound with
    ///   a declaration on every level), plus 2^25, plus 128 per byte read (at the default depth
    ///   some tenths of a second, plus under a second per MB);
    /// - "Parse memory limit exceeded": the parse may hold 128 MiB plus 256 bytes per byte read,
    ///   and request 32 times that in all;
    /// - "Parse memory limit exceeded: more than N bytes": it may never hold more than
    ///   Limits::maxMemory() (4 GiB by default).
    /// Parsers from wellFormedParser() apply the same bounds; they count the bytes read (and see
    /// how the input ends) only through inputSourceAdapter() inputs, other inputs get the fixed
    /// allowances alone.
    static DOMDocument* parse(OctetSource* source);
    /// As parse(source), with the given limits.
    static DOMDocument* parse(OctetSource* source, const Limits& limits);
    /// A new empty document owned by the caller.
    static DOMDocument* newDocument();
    /// A new parser in the library's configuration and with the bounds of parse(), owned by the
    /// caller (ParserRelease).
    static xercesc::DOMLSParser* wellFormedParser();
    /// As wellFormedParser(), with the given limits for every parse it makes.
    static xercesc::DOMLSParser* wellFormedParser(const Limits& limits);
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
