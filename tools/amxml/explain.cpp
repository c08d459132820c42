#include "explain.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>
#include <xercesc/dom/DOMCharacterData.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/util/XMLString.hpp>

#include "nodeset/internal.h"
#include "tool.h"

namespace amxml {

using Ambrite::XML::AndFilter;
using Ambrite::XML::DOMDocument;
using Ambrite::XML::DOMElement;
using Ambrite::XML::DOMNode;
using Ambrite::XML::NodeHashSet;
using Ambrite::XML::NodeSet;
using Ambrite::XML::NodeSetIterator;
using Ambrite::XML::NodeTreeFilter;
using xercesc::XMLString;
namespace internal = Ambrite::XML::internal;

// Writes octets to a file while passing them on; a write failure is reported by finish(), so
// that the canonicalizer writing into it never unwinds through the tool's own errors.
class Explain::Tee : public Ambrite::XML::OctetSink {
public:
    Tee(const std::string& name, OctetSink* next) : name_(name), next_(next) {
        file_ = std::fopen(name.c_str(), "wb");
        if (!file_) throw ToolError{"cannot write " + name + ": " + std::strerror(errno)};
    }
    ~Tee() override {
        if (file_) std::fclose(file_);
    }
    void write(const unsigned char* bytes, unsigned int count) override {
        if (!error_ && count && std::fwrite(bytes, 1, count, file_) != count) failed();
        if (next_) next_->write(bytes, count);
    }
    void close() override {}
    /// Closes the file; ToolError when some of it could not be written.
    void finish() {
        std::FILE* file = file_;
        file_ = nullptr;
        if (std::fclose(file) != 0 && !error_) failed();
        if (error_) throw ToolError{"cannot write " + name_ + ": " + std::strerror(error_)};
    }

private:
    void failed() { error_ = errno ? errno : EIO; }

    std::string name_;
    OctetSink* next_;
    std::FILE* file_;
    int error_ = 0;
};

namespace {

// Creates `path` and the directories above it that are missing.
void makeDirectories(const std::string& path) {
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        const std::string prefix = path.substr(0, end);
        struct stat status;
        if (::mkdir(prefix.c_str(), 0777) != 0 &&
            (errno != EEXIST || ::stat(prefix.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))) {
            throw ToolError{"cannot create the directory " + prefix + ": " + std::strerror(errno)};
        }
    }
}

// Where a walk of the document stands, kept for each open node.
struct Frame {
    bool in = false;         // the nearest element at or above is in the node set
    bool inside = false;     // within the signature
    std::size_t group = 0;   // the index of that element's apex
    std::size_t level = 0;   // where the element children of the node are numbered
    std::size_t length = 0;  // the length of the path before the element's own step
};

// A walk of the whole document in document order that enters entity references as the
// node-set iterator does, and knows the path of the element it is in, numbered as nodePath()
// numbers it (the elements of an entity reference are children of the reference's parent).
class Walk {
public:
    explicit Walk(DOMDocument* document) : walker_(document), counts_(1, 0) {}

    /// Calls visit(node, parent's frame, own frame) on entering each node; the own frame,
    /// which visit may change, is kept for its children, which are walked when visit gives true.
    template <class Visit>
    void run(Visit visit) {
        do {
            DOMNode* node = walker_.node();
            const bool element = node->getNodeType() == DOMNode::ELEMENT_NODE;
            if (!walker_.entering()) {
                if (element) path_.resize(walker_.data().length);
                continue;
            }
            const Frame parent = walker_.depth() ? walker_.data() : Frame();
            Frame own = parent;
            if (element) {
                own.length = path_.size();
                char digits[16];
                path_ += '/';
                path_.append(
                    digits,
                    std::to_chars(digits, digits + sizeof digits, ++counts_[parent.level]).ptr);
                own.level = parent.level + 1;
                if (own.level == counts_.size()) {
                    counts_.push_back(0);
                } else {
                    counts_[own.level] = 0;
                }
            }
            if (!(visit(node, parent, own) && walker_.descend(own)) && element) {
                path_.resize(own.length);
            }
        } while (walker_.next());
    }

    const std::string& path() const { return path_; }

private:
    internal::Walker<Frame> walker_;
    std::vector<unsigned int> counts_;  // element children numbered so far, by level
    std::string path_;
};

DOMNode* parentElement(DOMNode* n) {
    DOMNode* p = n->getParentNode();
    while (p && p->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE) p = p->getParentNode();
    return p && p->getNodeType() == DOMNode::ELEMENT_NODE ? p : nullptr;
}

// Characters of a text node, a surrogate pair counting once.
unsigned long long characters(DOMNode* text) {
    const auto* data = static_cast<xercesc::DOMCharacterData*>(text);
    const XMLCh* p = data->getData();
    unsigned long long count = 0;
    for (const XMLCh* end = p + data->getLength(); p != end; ++p) {
        if (*p < 0xDC00 || *p > 0xDFFF) ++count;
    }
    return count;
}

bool namespaceDeclaration(DOMNode* attribute) {
    return XMLString::equals(attribute->getNamespaceURI(), u"http://www.w3.org/2000/xmlns/");
}

std::string counted(unsigned long long n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

Explain::Explain(DOMDocument* document, bool explain, const std::string& directory)
    : document_(document), explain_(explain), directory_(directory) {
    while (directory_.size() > 1 && directory_.back() == '/') directory_.pop_back();
    if (!directory_.empty()) makeDirectories(directory_);
}

Explain::~Explain() = default;

std::string Explain::storePath(const DOMElement* signature, const std::string& suffix) {
    std::string name = directory_;
    for (char16_t c : nodePath(const_cast<DOMElement*>(signature))) name += static_cast<char>(c);
    makeDirectories(name.substr(0, name.rfind('/')));
    return name + suffix;
}

Ambrite::XML::OctetSink* Explain::octets(const DOMElement* signature, unsigned int k,
                                         const NodeSet::Filter* coverage,
                                         Ambrite::XML::OctetSink* digest) {
    signature_ = signature;
    digested_ = true;
    if (explain_) coverage_.reset(coverage ? coverage->clone() : nullptr);
    if (directory_.empty()) return digest;
    tee_.reset(new Tee(storePath(signature, "-ref" + std::to_string(k) + ".bin"), digest));
    return tee_.get();
}

void Explain::endReference(bool ok) {
    std::unique_ptr<Tee> tee(std::move(tee_));
    std::unique_ptr<NodeSet::Filter> coverage(std::move(coverage_));
    const bool digested = digested_;
    digested_ = false;
    if (tee) tee->finish();
    if (explain_ && ok && digested) cover(coverage.get());
}

void Explain::signedInfo(const DOMElement* signature, const std::string& canonical) {
    if (directory_.empty()) return;
    Tee file(storePath(signature, "-signedinfo.bin"), nullptr);
    file.write(reinterpret_cast<const unsigned char*>(canonical.data()),
               static_cast<unsigned int>(canonical.size()));
    file.finish();
}

// One walk of the document beside the node-set iterator, which yields the members in the
// walk's order, so that membership costs one comparison and tree filters are not asked for
// every node.
void Explain::cover(const NodeSet::Filter* coverage) {
    NodeSet set(document_, coverage ? coverage->clone() : nullptr, nullptr, false);
    NodeSetIterator members(&set);
    DOMNode* next = members.next();
    auto member = [&](DOMNode* n) {
        if (n != next) return false;
        next = members.next();
        return true;
    };
    std::vector<std::string> groups;  // each apex with the subtrees left out of it
    unsigned long long elements = 0, attributes = 0, text = 0;
    Walk walk(document_);
    walk.run([&](DOMNode* n, const Frame& parent, Frame& own) {
        const bool in = member(n);
        own.inside = parent.inside || n == signature_;
        // Comments aside, which a canonicalization may drop after the node set is made.
        if (in && !own.inside && n->getNodeType() != DOMNode::DOCUMENT_NODE &&
            n->getNodeType() != DOMNode::COMMENT_NODE) {
            outside_ = true;
        }
        switch (n->getNodeType()) {
            case DOMNode::ELEMENT_NODE: {
                own.in = in;
                if (in) {
                    ++elements;
                    signatureCovered_.insert(n);
                    if (!parent.in) {
                        own.group = groups.size();
                        groups.push_back(walk.path());
                        for (DOMNode* p = parentElement(n); p && !signatureAbove_.contains(p);
                             p = parentElement(p)) {
                            signatureAbove_.insert(p);
                        }
                    }
                } else if (parent.in) {
                    groups[parent.group] += " minus " + walk.path();
                }
                xercesc::DOMNamedNodeMap* map = n->getAttributes();
                for (XMLSize_t i = 0, count = map->getLength(); i < count; ++i) {
                    DOMNode* a = map->item(i);
                    if (!member(a)) continue;
                    if (!namespaceDeclaration(a)) ++attributes;
                    if (!own.inside) outside_ = true;
                }
                break;
            }
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
                if (in) text += characters(n);
                break;
            default:
                break;
        }
        return true;
    });
    std::string line = "  covers ";
    for (std::size_t i = 0; i < groups.size(); ++i) line += (i ? ", " : "") + groups[i];
    if (groups.empty()) line += "no element";
    line += ": " + counted(elements, "element") + ", " + counted(attributes, "attribute") + ", " +
            counted(text, "character") + "\n";
    std::fputs(line.c_str(), stdout);

    // The roots the node set names (an ID's element, an XPointer's nodes): those of the tree
    // filters it is a conjunction of, taken apart as the node-set iterator does.
    bool inside = false, outside = false;
    std::vector<const NodeSet::Filter*> work(1, coverage);
    for (std::size_t i = 0; i < work.size(); ++i) {
        const NodeSet::Filter* f = work[i];
        if (!f) continue;
        if (f->type() == NodeSet::Filter::AND_FILTER) {
            if (const auto* a = dynamic_cast<const AndFilter*>(f)) {
                work.push_back(a->first());
                work.push_back(a->second());
            }
        } else if (f->type() == NodeSet::Filter::NODE_TREE_FILTER) {
            if (const auto* t = dynamic_cast<const NodeTreeFilter*>(f)) {
                internal::forEach(t->roots(), [&](DOMNode* r) {
                    if (!internal::within(r, document_->getDocumentElement())) {
                        outside = true;
                    } else if (internal::within(r, signature_)) {
                        inside = true;
                    }
                });
            }
        }
    }
    if (inside) std::fputs("  warning: the reference names a node inside its signature\n", stdout);
    if (outside) {
        std::fputs("  warning: the reference names a node outside the document element\n", stdout);
    }
}

void Explain::endSignature(bool valid) {
    if (explain_ && !outside_)
        std::fputs("  warning: covers nothing outside the signature\n", stdout);
    if (valid) {
        for (auto it = signatureCovered_.begin(), end = signatureCovered_.end(); it != end; ++it) {
            covered_.insert(*it);
        }
        for (auto it = signatureAbove_.begin(), end = signatureAbove_.end(); it != end; ++it) {
            above_.insert(*it);
        }
    }
    signatureCovered_.clear();
    signatureAbove_.clear();
    outside_ = false;
}

void Explain::endDocument() {
    if (!explain_) return;
    bool any = false;
    Walk walk(document_);
    walk.run([&](DOMNode* n, const Frame&, Frame&) {
        switch (n->getNodeType()) {
            case DOMNode::DOCUMENT_NODE:
            case DOMNode::ENTITY_REFERENCE_NODE:
                return true;
            case DOMNode::ELEMENT_NODE:
                break;
            default:
                return false;
        }
        if (covered_.contains(n)) return true;
        // An element is listed once, with all it holds, unless something below it is covered.
        const bool above = above_.contains(n);
        any = true;
        std::printf("not covered: %s%s\n", walk.path().c_str(),
                    above ? " (only parts of its content are)" : "");
        return above;
    });
    if (!any) std::fputs("not covered: none\n", stdout);
}

}  // namespace amxml
