// amxml verify: checks the XML signatures of a document, reference by reference, with the keys
// named on the command line, and writes one line per reference and per signature.
#include <ambrite/xml/c14n.h>
#include <ambrite/xml/dom.h>
#include <ambrite/xml/nodeset.h>
#include <ambrite/xml/streams.h>
#include <ambrite/xml/xpath.h>
#include <ambrite/xml/xpointer.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/DOMNodeList.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "crypto.h"
#include "explain.h"
#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::AndFilter;
using Ambrite::XML::Block;
using Ambrite::XML::BufferSink;
using Ambrite::XML::DigestSink;
using Ambrite::XML::DocumentRelease;
using Ambrite::XML::DOMAttr;
using Ambrite::XML::DOMDocument;
using Ambrite::XML::DOMElement;
using Ambrite::XML::DOMNode;
using Ambrite::XML::Exception;
using Ambrite::XML::NodeHashSet;
using Ambrite::XML::NodeSet;
using Ambrite::XML::NodeSetFilter;
using Ambrite::XML::NodeSetIterator;
using Ambrite::XML::NodeTreeFilter;
using Ambrite::XML::NodeTypeFilter;
using Ambrite::XML::NotFilter;
using Ambrite::XML::OrFilter;
using Ambrite::XML::VerifySink;
using Ambrite::XML::XPath;
using Ambrite::XML::XPathFilter;
using Ambrite::XML::XPathParser;
using Ambrite::XML::XPointer;
using Ambrite::XML::XPointerParser;
using Ambrite::XML::C14n::CanonicalizerParameters;
using Ambrite::XML::C14n::DOMCanonicalizer;

const char kUsage[] =
    "usage: amxml verify [--key PEM]... [--references-only] [--id-attr NAME]...\n"
    "                    [--explain] [--store-references DIR]\n"
    "                    [--max-signatures N] [--max-references N] [--max-transforms N]\n"
    "                    [--max-visits N] [--max-depth N] [--max-memory SIZE] [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent) and checks every XML signature in\n"
    "it: each reference of its SignedInfo (the digest of what the reference designates after\n"
    "its transforms), then its SignatureValue with one of the keys given. Writes one line per\n"
    "reference, OK, FAILED or NOT CHECKED, then one per signature, VALID or INVALID and why.\n"
    "Signatures are named by their element's path, as amxml xpath writes paths.\n"
    "\n"
    "Only same-document references are followed (\"\", #ID, #xpointer(/), #xpointer(id('ID')));\n"
    "others are NOT CHECKED, and nothing is fetched. The transforms understood are the\n"
    "enveloped signature; canonical XML, inclusive or exclusive, with or without comments;\n"
    "the XPath filter (its expression true for each node kept, with here() and the prefixes\n"
    "in scope of its XPath element); and XPath Filter 2.0 (intersect, subtract and union of\n"
    "the subtrees its expressions select). Any other leaves its reference NOT CHECKED.\n"
    "Digests: SHA-1 (with a warning) and SHA-2; signatures: RSA PKCS#1 v1.5 and ECDSA; MD5 is\n"
    "refused. A key inside the document is never used. Two elements with the same ID fail the\n"
    "document.\n"
    "\n"
    "  --key PEM             a public key or X.509 certificate in PEM (RSA of 1024 bits or\n"
    "                        more, or EC on P-256, P-384 or P-521); may be repeated\n"
    "  --references-only     check the references only, with no key\n"
    "  --id-attr NAME        attributes named NAME (LOCAL or {NAMESPACE}LOCAL) hold IDs, besides\n"
    "                        those the DTD declares ID (may be repeated)\n"
    "  --explain             say what each OK reference covers, and which elements nothing\n"
    "                        valid covers (below)\n"
    "  --store-references DIR\n"
    "                        write the octets that reference K of the signature at PATH\n"
    "                        digested to DIR/PATH-refK.bin (/1/3 gives DIR/1/3-ref1.bin),\n"
    "                        also when the digest fails, and the canonical SignedInfo, when\n"
    "                        the signature value is checked, to DIR/PATH-signedinfo.bin;\n"
    "                        directories are made as needed\n"
    "  --max-signatures N    a document with more signatures fails before any is checked\n"
    "                        (default 30)\n"
    "  --max-references N    a signature with more references is invalid (default 30)\n"
    "  --max-transforms N    a reference with more transforms fails (default 5)\n"
    "  --max-visits N        the XPath work of one reference (its XPointer and filters) may\n"
    "                        visit at most N nodes (default 100000000)\n"
    "  --max-depth N         refuse documents nesting elements more than N deep\n"
    "                        (default 10000)\n"
    "  --max-memory SIZE     refuse documents whose parse would hold more than SIZE bytes\n"
    "                        (K, M, G or T multiply by 1024 each; default 2G)\n"
    "  --help                show this text\n"
    "\n"
    "With --explain, lines follow the verdicts. After the line of an OK reference, what it\n"
    "covers in the signed document (when a canonicalization is parsed again, the node set it\n"
    "had there last): the apex of each covered subtree with the subtrees left out of it, then\n"
    "the elements, the attributes (namespace declarations aside) and characters of text:\n"
    "    \"  covers /1 minus /1/2, /1/3/1: 4 elements, 2 attributes, 30 characters\"\n"
    "and when a subtree it names by ID or XPointer lies inside its signature (or outside the\n"
    "document element):\n"
    "    \"  warning: the reference names a node inside its signature\"\n"
    "After the line of a signature whose OK references cover nothing outside it:\n"
    "    \"  warning: covers nothing outside the signature\"\n"
    "Last, in document order, the elements that no OK reference of a VALID signature covers:\n"
    "\"not covered: /1/3\" for an element with all it holds, \"not covered: /1 (only parts of\n"
    "its content are)\" for one with covered parts below it (its other parts have lines of\n"
    "their own), or \"not covered: none\".\n"
    "\n"
    "Exit status 0 when the document holds at least one signature and every one is valid.\n";

const XMLCh kDsig[] = u"http://www.w3.org/2000/09/xmldsig#";
const XMLCh kExcC14n[] = u"http://www.w3.org/2001/10/xml-exc-c14n#";
const XMLCh kEnveloped[] = u"http://www.w3.org/2000/09/xmldsig#enveloped-signature";
const XMLCh kXPathFilter[] = u"http://www.w3.org/TR/1999/REC-xpath-19991116";
const XMLCh kFilter2[] = u"http://www.w3.org/2002/06/xmldsig-filter2";

struct DigestMethod {
    const XMLCh* uri;
    Hash hash;
};
const DigestMethod kDigestMethods[] = {
    {u"http://www.w3.org/2000/09/xmldsig#sha1", Hash::SHA1},
    {u"http://www.w3.org/2001/04/xmldsig-more#sha224", Hash::SHA224},
    {u"http://www.w3.org/2001/04/xmlenc#sha256", Hash::SHA256},
    {u"http://www.w3.org/2001/04/xmldsig-more#sha384", Hash::SHA384},
    {u"http://www.w3.org/2001/04/xmlenc#sha512", Hash::SHA512},
};

struct SignatureMethod {
    const XMLCh* uri;
    PublicKey::Type type;
    Hash hash;
};
const SignatureMethod kSignatureMethods[] = {
    {u"http://www.w3.org/2000/09/xmldsig#rsa-sha1", PublicKey::RSA, Hash::SHA1},
    {u"http://www.w3.org/2001/04/xmldsig-more#rsa-sha224", PublicKey::RSA, Hash::SHA224},
    {u"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256", PublicKey::RSA, Hash::SHA256},
    {u"http://www.w3.org/2001/04/xmldsig-more#rsa-sha384", PublicKey::RSA, Hash::SHA384},
    {u"http://www.w3.org/2001/04/xmldsig-more#rsa-sha512", PublicKey::RSA, Hash::SHA512},
    {u"http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha1", PublicKey::EC, Hash::SHA1},
    {u"http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha224", PublicKey::EC, Hash::SHA224},
    {u"http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha256", PublicKey::EC, Hash::SHA256},
    {u"http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha384", PublicKey::EC, Hash::SHA384},
    {u"http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha512", PublicKey::EC, Hash::SHA512},
};

// Algorithms refused whatever else holds: MD5 digests and the signatures made over them.
const XMLCh* const kRefused[] = {
    u"http://www.w3.org/2001/04/xmldsig-more#md5",
    u"http://www.w3.org/2001/04/xmldsig-more#rsa-md5",
    u"http://www.w3.org/2001/04/xmldsig-more#hmac-md5",
};

struct C14nMethod {
    const XMLCh* uri;
    DOMCanonicalizer::Mode mode;
};
const C14nMethod kC14nMethods[] = {
    {u"http://www.w3.org/TR/2001/REC-xml-c14n-20010315", DOMCanonicalizer::CANONICAL},
    {u"http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments",
     DOMCanonicalizer::CANONICAL_WITH_COMMENTS},
    {u"http://www.w3.org/2001/10/xml-exc-c14n#", DOMCanonicalizer::EXCLUSIVE},
    {u"http://www.w3.org/2001/10/xml-exc-c14n#WithComments",
     DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS},
};

template <typename T, std::size_t N>
const T* find(const T (&table)[N], const std::u16string& uri) {
    for (const T& entry : table) {
        if (uri == entry.uri) return &entry;
    }
    return nullptr;
}

bool refused(const std::u16string& uri) {
    for (const XMLCh* r : kRefused) {
        if (uri == r) return true;
    }
    return false;
}

std::string utf8(const XMLCh* text) {
    if (!text || !*text) return "";
    xercesc::TranscodeToStr narrow(text, "UTF-8");
    return std::string(reinterpret_cast<const char*>(narrow.str()), narrow.length());
}

std::string utf8(const std::u16string& text) { return utf8(text.c_str()); }

bool isDsig(const DOMNode* n, const XMLCh* localName) {
    return n && n->getNodeType() == DOMNode::ELEMENT_NODE &&
           std::u16string(n->getLocalName() ? n->getLocalName() : u"") == localName &&
           n->getNamespaceURI() && std::u16string(n->getNamespaceURI()) == kDsig;
}

// The element children of `parent` of the XML-Signature namespace named `localName`.
std::vector<DOMElement*> children(const DOMElement* parent, const XMLCh* localName) {
    std::vector<DOMElement*> found;
    for (DOMElement* c = parent->getFirstElementChild(); c; c = c->getNextElementSibling()) {
        if (isDsig(c, localName)) found.push_back(c);
    }
    return found;
}

DOMElement* child(const DOMElement* parent, const XMLCh* localName) {
    for (DOMElement* c = parent->getFirstElementChild(); c; c = c->getNextElementSibling()) {
        if (isDsig(c, localName)) return c;
    }
    return nullptr;
}

std::u16string algorithmOf(const DOMElement* e) { return e->getAttribute(u"Algorithm"); }

// Base64 content, blanks ignored; false when it is not base64.
bool decodeBase64(const XMLCh* text, std::vector<unsigned char>& out) {
    out.clear();
    unsigned int bits = 0, count = 0, padding = 0;
    for (const XMLCh* p = text ? text : u""; *p; ++p) {
        const XMLCh c = *p;
        int value;
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') continue;
        if (c == u'=') {
            ++padding;
            continue;
        }
        if (padding) return false;
        if (c >= u'A' && c <= u'Z') {
            value = c - u'A';
        } else if (c >= u'a' && c <= u'z') {
            value = c - u'a' + 26;
        } else if (c >= u'0' && c <= u'9') {
            value = c - u'0' + 52;
        } else if (c == u'+') {
            value = 62;
        } else if (c == u'/') {
            value = 63;
        } else {
            return false;
        }
        bits = (bits << 6) | static_cast<unsigned int>(value);
        if (++count % 4 == 0) {
            out.push_back(static_cast<unsigned char>(bits >> 16));
            out.push_back(static_cast<unsigned char>(bits >> 8));
            out.push_back(static_cast<unsigned char>(bits));
            bits = 0;
        }
    }
    const unsigned int rest = count % 4;
    if (rest == 1 || (rest == 0 && padding) || (rest && padding != 4 - rest) || padding > 2) {
        return false;
    }
    if (rest == 2) out.push_back(static_cast<unsigned char>(bits >> 4));
    if (rest == 3) {
        out.push_back(static_cast<unsigned char>(bits >> 10));
        out.push_back(static_cast<unsigned char>(bits >> 2));
    }
    return true;
}

struct Options {
    std::vector<std::unique_ptr<PublicKey>> keys;
    bool referencesOnly = false;
    IdAttributes idAttributes;
    unsigned long long maxSignatures = 30, maxReferences = 30, maxTransforms = 5,
                       maxVisits = 100000000;
    ParseLimits limits;
    Explain* explain = nullptr;  // for --explain and --store-references
};

unsigned long long number(const std::string& option, const std::string& value) {
    if (value.empty() || value.size() > 18 ||
        value.find_first_not_of("0123456789") != std::string::npos || std::stoull(value) == 0) {
        throw UsageError{"invalid value '" + value + "' of " + option +
                         " (expecting a positive number)"};
    }
    return std::stoull(value);
}

// What a transform step holds: a node set, of the signed document or of one parsed from the
// octets of a canonicalization, and the canonicalization asked for last, which is made only
// when the octets are needed (so the last one writes straight into the digest).
struct Value {
    DOMDocument* document = nullptr;
    std::unique_ptr<NodeSet::Filter> filter;  // null: every node of the document
    bool canonicalized = false;
    DOMCanonicalizer::Mode mode = DOMCanonicalizer::CANONICAL;
    CanonicalizerParameters parameters;
    std::unique_ptr<DOMDocument, DocumentRelease> parsed;  // a document parsed from octets
    // Once octets are parsed again, the node set last held on the signed document (null: all
    // of it): what --explain reports the reference covers there.
    std::unique_ptr<NodeSet::Filter> signedFilter;
};

// Collects the octets written into a string.
class StringSink : public Ambrite::XML::OctetSink {
public:
    explicit StringSink(std::string& out) : out_(out) {}
    void write(const unsigned char* bytes, unsigned int count) override {
        out_.append(reinterpret_cast<const char*>(bytes), count);
    }
    void close() override {}

private:
    std::string& out_;
};

class StringSource : public Ambrite::XML::OctetSource {
public:
    explicit StringSource(const std::string& in) : in_(in) {}
    unsigned int read(unsigned char* buffer, unsigned int max) override {
        std::size_t n = std::min<std::size_t>(max, in_.size() - position_);
        std::memcpy(buffer, in_.data() + position_, n);
        position_ += n;
        return static_cast<unsigned int>(n);
    }
    void close() override {}

private:
    const std::string& in_;
    std::size_t position_ = 0;
};

// Writes the octets of `value`: its node set canonicalized by the method asked for, or by
// inclusive canonicalization without comments when none was.
void emit(Value& value, Ambrite::XML::OctetSink* sink) {
    NodeSet nodes(value.document, value.filter ? value.filter->clone() : nullptr, nullptr, false);
    DOMCanonicalizer::canonicalize(&nodes, sink, value.mode,
                                   value.canonicalized ? &value.parameters : nullptr);
}

// After a canonicalization, a transform that takes a node set gets the document parsed from
// its octets, comments included.
void toNodeSet(Value& value, const Options& options) {
    if (!value.canonicalized) return;
    std::string octets;
    StringSink sink(octets);
    emit(value, &sink);
    StringSource source(octets);
    std::unique_ptr<DOMDocument, DocumentRelease> parsed(
        Ambrite::XML::DOMUtil::parse(&source, options.limits.limits));
    if (!value.parsed) value.signedFilter = std::move(value.filter);
    value.filter.reset();
    value.parsed = std::move(parsed);
    value.document = value.parsed.get();
    value.canonicalized = false;
}

void restrict(Value& value, NodeSet::Filter* more) {
    std::unique_ptr<NodeSet::Filter> held(more);
    if (value.filter) {
        value.filter.reset(new AndFilter(value.filter.release(), held.release()));
    } else {
        value.filter = std::move(held);
    }
}

NodeSet::Filter* withoutComments() {
    return new NotFilter(new NodeTypeFilter(DOMNode::COMMENT_NODE));
}

// The prefixes of an InclusiveNamespaces child of a canonicalization method element.
void inclusivePrefixes(const DOMElement* method, CanonicalizerParameters& parameters) {
    for (DOMElement* c = method->getFirstElementChild(); c; c = c->getNextElementSibling()) {
        if (!c->getNamespaceURI() || !c->getLocalName() ||
            std::u16string(c->getNamespaceURI()) != kExcC14n ||
            std::u16string(c->getLocalName()) != u"InclusiveNamespaces") {
            continue;
        }
        const std::u16string list = c->getAttribute(u"PrefixList");
        std::size_t p = 0;
        while ((p = list.find_first_not_of(u" \t\n\r", p)) != std::u16string::npos) {
            std::size_t end = list.find_first_of(u" \t\n\r", p);
            const std::u16string prefix = list.substr(p, end - p);
            p = end;
            parameters.unsuppressedNamespacePrefix(prefix == u"#default" ? nullptr
                                                                         : prefix.c_str());
        }
    }
}

// A reference that fails for a reason found in its transforms.
struct Failure {
    std::string message;
};

bool named(const DOMNode* n, const XMLCh* namespaceUri, const XMLCh* localName) {
    return n->getNamespaceURI() && n->getLocalName() &&
           std::u16string(n->getNamespaceURI()) == namespaceUri &&
           std::u16string(n->getLocalName()) == localName;
}

// The bindings of the expression of an XPath element: here() is the element and the prefixes
// in scope there are bound (the map owns these), and the reference's budget, borrowed, bounds
// the work.
class ElementBindings {
public:
    ElementBindings(DOMElement* element, XPath::Budget& budget) {
        try {
            XPath::init(map_, element, element);
            map_[XPath::Budget::key()] = &budget;
        } catch (...) {
            release();
            throw;
        }
    }
    ~ElementBindings() { release(); }
    ElementBindings(const ElementBindings&) = delete;
    ElementBindings& operator=(const ElementBindings&) = delete;
    const XPath::BindingMap& map() const { return map_; }

private:
    // Takes the budget out before init deletes what the map holds.
    void release() {
        XPath::BindingMap::iterator budget = map_.find(XPath::Budget::key());
        if (budget != map_.end()) map_.erase(budget);
        XPath::init(map_, nullptr, nullptr);
    }

    XPath::BindingMap map_;
};

// Whether the verdict of an XPath filter on a node of the input can matter. Namespace
// declarations are written from the scope of each element written, whatever their own
// membership; XPath sees no document type or entity reference node.
bool filtered(DOMNode* node) {
    switch (node->getNodeType()) {
        case DOMNode::DOCUMENT_TYPE_NODE:
        case DOMNode::ENTITY_REFERENCE_NODE:
            return false;
        case DOMNode::ATTRIBUTE_NODE:
            return !xercesc::XMLString::equals(
                node->getPrefix() ? node->getPrefix() : node->getNodeName(), u"xmlns");
        default:
            return true;
    }
}

NodeHashSet hashSet(const std::vector<DOMNode*>& nodes) {
    NodeHashSet set(static_cast<unsigned int>(nodes.size()));
    for (DOMNode* n : nodes) set.insert(n);
    return set;
}

// The XPath filter: keeps the nodes of the input for which the expression of the transform's
// XPath element is true, evaluated once per node, its context-free parts once in all.
void xpathFilter(Value& value, const DOMElement* transform, XPath::Budget& budget,
                 const Options& options) {
    DOMElement* element = child(transform, u"XPath");
    if (!element) throw Failure{"no XPath element in the XPath filter transform"};
    toNodeSet(value, options);
    ElementBindings bindings(element, budget);
    XPathFilter expression(XPathParser::parse(element->getTextContent()), bindings.map());
    NodeSet input(value.document, value.filter ? value.filter->clone() : nullptr, nullptr, false);
    NodeSetIterator nodes(&input);
    std::vector<DOMNode*> kept, dropped;
    while (nodes.hasNext()) {
        DOMNode* n = nodes.next();
        (!filtered(n) || expression.matches(n) ? kept : dropped).push_back(n);
    }
    if (dropped.empty()) return;
    // Either set, restricted onto the input, gives the output: the smaller one is kept.
    if (kept.size() < dropped.size()) {
        restrict(value, new NodeSetFilter(hashSet(kept)));
    } else {
        restrict(value, new NotFilter(new NodeSetFilter(hashSet(dropped))));
    }
}

// XPath Filter 2.0: each expression selects nodes from the document root, and the subtrees
// of these are intersected with, subtracted from or united with the filter set, which starts
// as the whole document; the output is the input within the filter set.
void filter2(Value& value, const DOMElement* transform, XPath::Budget& budget,
             const Options& options) {
    toNodeSet(value, options);
    std::unique_ptr<NodeSet::Filter> set;  // null: the whole document
    bool any = false;
    for (DOMElement* e = transform->getFirstElementChild(); e; e = e->getNextElementSibling()) {
        if (!named(e, kFilter2, u"XPath")) continue;
        any = true;
        const std::u16string operation = e->getAttribute(u"Filter");
        if (operation != u"intersect" && operation != u"subtract" && operation != u"union") {
            throw Failure{"invalid XPath Filter 2.0 operation Filter=\"" +
                          printable(utf8(operation), false) + "\" (intersect, subtract or union)"};
        }
        ElementBindings bindings(e, budget);
        std::unique_ptr<XPath> expression(XPathParser::parse(e->getTextContent()));
        std::unique_ptr<XPath::Iterator> nodes(
            expression->nodeSet(value.document, 1, bindings.map()));
        NodeHashSet roots;
        while (nodes->hasNext()) roots.insert(nodes->next());
        std::unique_ptr<NodeSet::Filter> subtrees(new NodeTreeFilter(roots));
        if (operation == u"subtract") subtrees.reset(new NotFilter(subtrees.release()));
        if (operation == u"union") {
            if (set) set.reset(new OrFilter(set.release(), subtrees.release()));
        } else {
            set.reset(set ? new AndFilter(set.release(), subtrees.release()) : subtrees.release());
        }
    }
    if (!any) throw Failure{"no XPath element in the XPath Filter 2.0 transform"};
    if (set) restrict(value, set.release());
}

// The outcome of one reference.
struct Check {
    enum Result { OK, FAILED, NOT_CHECKED } result;
    std::string message;
};

// Selects the nodes a same-document URI designates in `value`; false with `check` set when it
// designates none or cannot be followed.
bool dereference(const std::u16string& uri, DOMDocument* document, XPath::Budget& budget,
                 Value& value, Check& check) {
    value.document = document;
    if (uri.empty()) {
        value.filter.reset(withoutComments());
        return true;
    }
    if (uri[0] != u'#') {
        check = {Check::NOT_CHECKED, "external URI"};
        return false;
    }
    const std::u16string fragment = uri.substr(1);
    if (fragment.find(u'(') == std::u16string::npos) {
        // A bare name: the element with that ID, without comments.
        DOMElement* e = document->getElementById(fragment.c_str());
        if (!e) {
            check = {Check::FAILED,
                     "no element with ID '" + printable(utf8(fragment), false) + "'"};
            return false;
        }
        value.filter.reset(new NodeTreeFilter(e));
        restrict(value, withoutComments());
        return true;
    }
    // An XPointer: the subtrees of the nodes it selects, comments included.
    std::unique_ptr<XPointer> pointer(XPointerParser::parse(fragment.c_str()));
    XPath::BindingMap bindings;
    bindings[XPath::Budget::key()] = &budget;
    std::unique_ptr<XPath::Iterator> nodes(pointer->locationSet(document, bindings));
    NodeHashSet roots;
    bool whole = false;
    while (nodes->hasNext()) {
        DOMNode* n = nodes->next();
        if (n->getNodeType() == DOMNode::DOCUMENT_NODE) whole = true;
        roots.insert(n);
    }
    if (!whole) value.filter.reset(new NodeTreeFilter(roots));
    return true;
}

// Checks reference `k` (from 1) of `signature`.
Check checkReference(const DOMElement* reference, unsigned int k, const DOMElement* signature,
                     DOMDocument* document, const Options& options) {
    Check check{Check::OK, ""};
    const DOMElement* digestMethod = child(reference, u"DigestMethod");
    const DOMElement* digestValue = child(reference, u"DigestValue");
    if (!digestMethod || !digestValue) {
        return {Check::FAILED, digestMethod ? "no DigestValue" : "no DigestMethod"};
    }
    const std::u16string digestUri = algorithmOf(digestMethod);
    if (refused(digestUri)) return {Check::FAILED, "MD5 refused"};
    const DigestMethod* digest = find(kDigestMethods, digestUri);
    if (!digest) {
        return {Check::NOT_CHECKED,
                "unsupported digest method " + printable(utf8(digestUri), false)};
    }
    std::vector<DOMElement*> transforms;
    if (const DOMElement* list = child(reference, u"Transforms")) {
        transforms = children(list, u"Transform");
    }
    if (transforms.size() > options.maxTransforms) {
        return {Check::FAILED, "more than " + std::to_string(options.maxTransforms) +
                                   " transforms (--max-transforms)"};
    }
    if (!reference->hasAttribute(u"URI")) return {Check::NOT_CHECKED, "no URI"};

    Value value;
    XPath::Budget budget(options.maxVisits);  // for all the XPath work of the reference
    try {
        if (!dereference(reference->getAttribute(u"URI"), document, budget, value, check)) {
            return check;
        }
        for (const DOMElement* t : transforms) {
            const std::u16string algorithm = algorithmOf(t);
            if (algorithm == kEnveloped) {
                if (value.canonicalized || value.parsed) {
                    return {Check::NOT_CHECKED,
                            "enveloped signature transform after a canonicalization"};
                }
                restrict(value,
                         new NotFilter(new NodeTreeFilter(const_cast<DOMElement*>(signature))));
            } else if (const C14nMethod* c14n = find(kC14nMethods, algorithm)) {
                toNodeSet(value, options);
                value.canonicalized = true;
                value.mode = c14n->mode;
                value.parameters = CanonicalizerParameters();
                if (c14n->mode == DOMCanonicalizer::EXCLUSIVE ||
                    c14n->mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS) {
                    inclusivePrefixes(t, value.parameters);
                }
            } else if (algorithm == kXPathFilter) {
                xpathFilter(value, t, budget, options);
            } else if (algorithm == kFilter2) {
                filter2(value, t, budget, options);
            } else {
                return {Check::NOT_CHECKED,
                        "unsupported transform " + printable(utf8(algorithm), false)};
            }
        }
        std::unique_ptr<DigestSink> sink(newDigestSink(digest->hash));
        Ambrite::XML::OctetSink* out = sink.get();
        if (options.explain) {
            out = options.explain->octets(
                signature, k, value.parsed ? value.signedFilter.get() : value.filter.get(), out);
        }
        emit(value, out);
        std::unique_ptr<Block> computed(sink->digest());
        std::vector<unsigned char> expected;
        if (!decodeBase64(digestValue->getTextContent(), expected)) {
            return {Check::FAILED, "DigestValue is not base64"};
        }
        if (expected.size() != computed->length() ||
            std::memcmp(expected.data(), computed->data(), expected.size()) != 0) {
            return {Check::FAILED, "digest mismatch"};
        }
    } catch (const Failure& f) {
        return {Check::FAILED, f.message};
    } catch (const Exception& e) {
        std::string message = printable(utf8(e.what().str()), false);
        if (e.id() == 14 && message.find("Evaluation limit exceeded") == 0) {
            message += " (--max-visits)";
        }
        return {Check::FAILED, message};
    }
    if (digest->hash == Hash::SHA1) check.message = "warning: SHA-1";
    return check;
}

// Checks SignatureValue over the canonical SignedInfo; empty when it verifies with a key,
// otherwise why not. `warning` is set for SHA-1.
std::string checkSignatureValue(const DOMElement* signature, const DOMElement* signedInfo,
                                const Options& options, std::string& warning) {
    const DOMElement* c14nElement = child(signedInfo, u"CanonicalizationMethod");
    const DOMElement* methodElement = child(signedInfo, u"SignatureMethod");
    const DOMElement* valueElement = child(signature, u"SignatureValue");
    if (!c14nElement) return "no CanonicalizationMethod";
    if (!methodElement) return "no SignatureMethod";
    if (!valueElement) return "no SignatureValue";
    const std::u16string methodUri = algorithmOf(methodElement);
    if (refused(methodUri)) return "MD5 refused";
    const SignatureMethod* method = find(kSignatureMethods, methodUri);
    if (!method) return "unsupported signature method " + printable(utf8(methodUri), false);
    const std::u16string c14nUri = algorithmOf(c14nElement);
    const C14nMethod* c14n = find(kC14nMethods, c14nUri);
    if (!c14n) return "unsupported canonicalization method " + printable(utf8(c14nUri), false);
    if (method->hash == Hash::SHA1) warning = "warning: SHA-1";
    std::vector<unsigned char> value;
    if (!decodeBase64(valueElement->getTextContent(), value)) {
        return "SignatureValue is not base64";
    }

    CanonicalizerParameters parameters;
    if (c14n->mode == DOMCanonicalizer::EXCLUSIVE ||
        c14n->mode == DOMCanonicalizer::EXCLUSIVE_WITH_COMMENTS) {
        inclusivePrefixes(c14nElement, parameters);
    }
    std::string canonical;
    StringSink sink(canonical);
    NodeSet nodes(const_cast<DOMElement*>(signedInfo), nullptr, nullptr, false);
    DOMCanonicalizer::canonicalize(&nodes, &sink, c14n->mode, &parameters);
    if (options.explain) options.explain->signedInfo(signature, canonical);

    const Block signatureValue(value.data(), static_cast<unsigned int>(value.size()),
                               Block::Reference);
    bool keyOfType = false;
    for (const auto& key : options.keys) {
        if (key->type() != method->type) continue;
        keyOfType = true;
        std::unique_ptr<VerifySink> verifier(key->newVerifySink(method->hash));
        verifier->write(reinterpret_cast<const unsigned char*>(canonical.data()),
                        static_cast<unsigned int>(canonical.size()));
        if (verifier->verify(&signatureValue)) return "";
    }
    if (!keyOfType) return method->type == PublicKey::RSA ? "no RSA key" : "no EC key";
    return "signature value does not match the keys";
}

// Checks one signature, writing its lines; true when it is valid.
bool checkSignature(const DOMElement* signature, DOMDocument* document, const Options& options,
                    const std::string& path) {
    auto line = [&path](const std::string& verdict) {
        std::printf("signature %s: %s\n", path.c_str(), verdict.c_str());
    };
    const DOMElement* signedInfo = child(signature, u"SignedInfo");
    if (!signedInfo) {
        line("INVALID (no SignedInfo)");
        return false;
    }
    const std::vector<DOMElement*> references = children(signedInfo, u"Reference");
    if (references.empty()) {
        line("INVALID (no Reference)");
        return false;
    }
    if (references.size() > options.maxReferences) {
        line("INVALID (more than " + std::to_string(options.maxReferences) +
             " references (--max-references))");
        return false;
    }
    std::string reason;
    for (std::size_t k = 0; k < references.size(); ++k) {
        const DOMElement* reference = references[k];
        std::string head = "reference " + std::to_string(k + 1) + " of signature " + path;
        head += reference->hasAttribute(u"URI")
                    ? " (URI \"" + printable(utf8(reference->getAttribute(u"URI")), false) + "\")"
                    : " (no URI)";
        const Check check = checkReference(reference, static_cast<unsigned int>(k + 1), signature,
                                           document, options);
        std::string verdict;
        switch (check.result) {
            case Check::OK:
                verdict = check.message.empty() ? "OK" : "OK (" + check.message + ")";
                break;
            case Check::FAILED:
                verdict = "FAILED: " + check.message;
                break;
            case Check::NOT_CHECKED:
                verdict = "NOT CHECKED: " + check.message;
                break;
        }
        std::printf("%s: %s\n", head.c_str(), verdict.c_str());
        if (options.explain) options.explain->endReference(check.result == Check::OK);
        if (check.result != Check::OK && reason.empty()) {
            reason = "reference " + std::to_string(k + 1) + " " + verdict;
        }
    }
    std::string warning;
    if (options.referencesOnly) {
        if (reason.empty()) {
            line("VALID (references only, SignatureValue not checked)");
            return true;
        }
        line("INVALID (" + reason + "; references only)");
        return false;
    }
    const std::string failure = checkSignatureValue(signature, signedInfo, options, warning);
    if (reason.empty()) reason = failure;
    if (!reason.empty()) {
        line("INVALID (" + reason + ")");
        return false;
    }
    line(warning.empty() ? "VALID" : "VALID (" + warning + ")");
    return true;
}

}  // namespace

int verifyCommand(int argc, char** argv) {
    return runCommand("verify", kUsage, [argc, argv]() {
        Options options;
        std::vector<std::string> keyFiles;
        std::string value, store;
        bool explain = false;
        const char* input;
        bool run = parseArguments(
            argc, argv, kUsage,
            [&](int& i) {
                if (std::strcmp(argv[i], "--references-only") == 0) {
                    options.referencesOnly = true;
                } else if (std::strcmp(argv[i], "--explain") == 0) {
                    explain = true;
                } else if (optionValue(argc, argv, i, "--store-references", store)) {
                    if (store.empty()) throw UsageError{"empty directory of --store-references"};
                } else if (optionValue(argc, argv, i, "--key", value)) {
                    keyFiles.push_back(value);
                } else if (optionValue(argc, argv, i, "--id-attr", value)) {
                    options.idAttributes.push_back(idAttribute(value));
                } else if (optionValue(argc, argv, i, "--max-signatures", value)) {
                    options.maxSignatures = number("--max-signatures", value);
                } else if (optionValue(argc, argv, i, "--max-references", value)) {
                    options.maxReferences = number("--max-references", value);
                } else if (optionValue(argc, argv, i, "--max-transforms", value)) {
                    options.maxTransforms = number("--max-transforms", value);
                } else if (optionValue(argc, argv, i, "--max-visits", value)) {
                    options.maxVisits = number("--max-visits", value);
                } else if (!options.limits.option(argc, argv, i)) {
                    return false;
                }
                return true;
            },
            input);
        if (!run) return int(SUCCESS);
        if (keyFiles.empty() && !options.referencesOnly) {
            throw UsageError{"no key given (--key PEM, or --references-only)"};
        }
        for (const std::string& file : keyFiles) {
            options.keys.emplace_back(new PublicKey(file));
        }

        auto document = parseInput(input, options.limits);
        registerIds(document.get(), options.idAttributes);
        std::unique_ptr<Explain> explainer;
        if (explain || !store.empty()) explainer.reset(new Explain(document.get(), explain, store));
        options.explain = explainer.get();
        std::vector<DOMElement*> signatures;
        xercesc::DOMNodeList* list = document->getElementsByTagNameNS(kDsig, u"Signature");
        for (XMLSize_t i = 0; i < list->getLength(); ++i) {
            signatures.push_back(static_cast<DOMElement*>(list->item(i)));
        }
        if (signatures.empty()) throw ToolError{"no signature in the document"};
        if (signatures.size() > options.maxSignatures) {
            throw ToolError{"more than " + std::to_string(options.maxSignatures) +
                            " signatures (--max-signatures)"};
        }
        bool valid = true;
        for (const DOMElement* s : signatures) {
            const std::string path = utf8(nodePath(const_cast<DOMElement*>(s)));
            const bool ok = checkSignature(s, document.get(), options, path);
            if (explainer) explainer->endSignature(ok);
            valid = ok && valid;
        }
        if (explainer) explainer->endDocument();
        StdoutSink().close();
        return int(valid ? SUCCESS : FAILURE);
    });
}

}  // namespace amxml
