#include "tool.h"

#include <ambrite/xml/foundation.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <unordered_map>
#include <vector>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/util/TransService.hpp>

#include "dom/internal.h"

namespace amxml {

using Ambrite::XML::Exception;
using Ambrite::XML::Format;

FileSource::FileSource(std::FILE* file) : file_(file) {}

FileSource::~FileSource() { close(); }

unsigned int FileSource::read(unsigned char* buffer, unsigned int max) {
    if (!file_ || max == 0) return 0;
    std::size_t n = std::fread(buffer, 1, max, file_);
    if (n == 0 && std::ferror(file_)) {
        throw Exception(3, Format("Read error: %s", std::strerror(errno)));
    }
    return static_cast<unsigned int>(n);
}

void FileSource::close() {
    if (file_ && file_ != stdin) std::fclose(file_);
    file_ = nullptr;
}

void StdoutSink::write(const unsigned char* bytes, unsigned int count) {
    if (count && std::fwrite(bytes, 1, count, stdout) != count) {
        throw ToolError{std::string("cannot write the output: ") + std::strerror(errno)};
    }
}

void StdoutSink::close() {
    if (std::fflush(stdout) != 0) {
        throw ToolError{std::string("cannot write the output: ") + std::strerror(errno)};
    }
}

FileSource* openInput(const std::string& path) {
    if (path == "-") return new FileSource(stdin);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw ToolError{"cannot open " + path + ": " + std::strerror(errno)};
    return new FileSource(file);
}

bool isHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

bool parseArguments(int argc, char** argv, const char* usage,
                    const std::function<bool(int& i)>& option, const char*& input) {
    input = nullptr;
    bool options = true;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && isHelp(arg)) {
            std::fputs(usage, stdout);
            return false;
        } else if (options && arg[0] == '-' && arg[1] != 0) {
            if (!option(i)) throw UsageError{std::string("unknown option '") + arg + "'"};
        } else if (input) {
            throw UsageError{"only one input may be given"};
        } else {
            input = arg;
        }
    }
    return true;
}

bool optionValue(int argc, char** argv, int& i, const char* name, std::string& value) {
    std::size_t n = std::strlen(name);
    const char* arg = argv[i];
    if (std::strncmp(arg, name, n) != 0) return false;
    if (arg[n] == '=') {
        value = arg + n + 1;
        return true;
    }
    if (arg[n] != 0) return false;
    if (i + 1 >= argc) throw UsageError{std::string("option ") + name + " needs a value"};
    value = argv[++i];
    return true;
}

namespace {

// A positive decimal number with an optional binary multiplier; false when malformed or
// beyond `max`.
bool parseSize(const std::string& text, bool multipliers, unsigned long long max,
               unsigned long long& value) {
    std::size_t digits = text.find_first_not_of("0123456789");
    if (digits == 0 || text.empty()) return false;
    if (digits == std::string::npos) digits = text.size();
    unsigned long long factor = 1;
    if (digits < text.size()) {
        if (!multipliers || digits + 1 != text.size()) return false;
        switch (text[digits]) {
            case 'k':
            case 'K':
                factor = 1ull << 10;
                break;
            case 'm':
            case 'M':
                factor = 1ull << 20;
                break;
            case 'g':
            case 'G':
                factor = 1ull << 30;
                break;
            case 't':
            case 'T':
                factor = 1ull << 40;
                break;
            default:
                return false;
        }
    }
    unsigned long long n = 0;
    for (std::size_t k = 0; k < digits; ++k) {
        if (n > (max - (text[k] - '0')) / 10) return false;
        n = n * 10 + static_cast<unsigned long long>(text[k] - '0');
    }
    if (n == 0 || n > max / factor) return false;
    value = n * factor;
    return true;
}

// The option that raises the limit a parse failed on, if it is one the tool sets.
const char* raisingOption(const Exception& e) {
    if (e.id() != 9) return nullptr;
    const std::string message = e.what().c_str();
    auto endsWith = [&message](const std::string& tail) {
        return message.size() >= tail.size() &&
               message.compare(message.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith(": Nesting depth limit exceeded")) return "--max-depth";
    if (message.find(": Parse memory limit exceeded: more than ") != std::string::npos) {
        return "--max-memory";
    }
    return nullptr;
}

}  // namespace

bool ParseLimits::option(int argc, char** argv, int& i) {
    std::string value;
    unsigned long long n = 0;
    if (optionValue(argc, argv, i, "--max-depth", value)) {
        if (!parseSize(value, false, UINT_MAX, n)) {
            throw UsageError{"invalid depth '" + value + "' (expecting a positive number)"};
        }
        limits.maxDepth(static_cast<unsigned int>(n));
        return true;
    }
    if (optionValue(argc, argv, i, "--max-memory", value)) {
        if (!parseSize(value, true, ULLONG_MAX, n)) {
            throw UsageError{"invalid size '" + value + "' (expecting a number, K, M, G or T)"};
        }
        limits.maxMemory(n);
        return true;
    }
    return false;
}

std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease> parseInput(
    const char* input, const ParseLimits& limits) {
    std::unique_ptr<FileSource> source(openInput(input ? input : "-"));
    try {
        return std::unique_ptr<Ambrite::XML::DOMDocument, Ambrite::XML::DocumentRelease>(
            Ambrite::XML::DOMUtil::parse(source.get(), limits.limits));
    } catch (const Exception& e) {
        throwNamingOption(e);
    }
}

void throwNamingOption(const Exception& e) {
    const char* option = raisingOption(e);
    if (!option) throw e;
    throw Exception(e.id(), Format("%S (amxml %s)", e.what().str(), option));
}

std::string printable(const std::string& text, bool latin1) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned int c = static_cast<unsigned char>(text[i]);
        bool control = c < 0x20 || c == 0x7F;
        if (latin1) {
            control = control || (c >= 0x80 && c < 0xA0);
        } else if (c == 0xC2 && i + 1 < text.size()) {
            // U+0080 to U+009F in UTF-8.
            const unsigned int next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next < 0xA0) {
                c = next;
                ++i;
                control = true;
            }
        }
        if (!control) {
            out += text[i];
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

void forEachChild(Ambrite::XML::DOMNode* parent,
                  const std::function<bool(Ambrite::XML::DOMNode*)>& visit) {
    using Ambrite::XML::DOMNode;
    // The walk sees through entity references by itself; it goes no deeper than the children,
    // since it is told to descend only at the parent.
    Ambrite::XML::internal::Walker<Ambrite::XML::internal::NoData, true> children(parent);
    if (!children.descend()) return;
    while (children.next()) {
        if (!children.entering()) continue;
        DOMNode* n = children.node();
        switch (n->getNodeType()) {
            case DOMNode::ELEMENT_NODE:
            case DOMNode::TEXT_NODE:
            case DOMNode::CDATA_SECTION_NODE:
            case DOMNode::COMMENT_NODE:
            case DOMNode::PROCESSING_INSTRUCTION_NODE:
                if (!visit(n)) return;
                break;
            default:
                break;
        }
    }
}

Ambrite::XML::DOMNode* locate(Ambrite::XML::DOMDocument* document, const std::string& locator) {
    using Ambrite::XML::DOMNode;
    if (locator.size() < 2 || locator[0] != '/') {
        throw UsageError{"invalid locator '" + locator + "' (expecting /1/2/...)"};
    }
    DOMNode* node = document;
    std::size_t p = 1;
    while (p <= locator.size()) {
        std::size_t end = locator.find('/', p);
        if (end == std::string::npos) end = locator.size();
        std::string step = locator.substr(p, end - p);
        if (step.empty() || step.size() > 9 || step[0] == '0' ||
            step.find_first_not_of("0123456789") != std::string::npos) {
            throw UsageError{"invalid locator '" + locator + "' (expecting /1/2/...)"};
        }
        long index = std::stol(step);
        DOMNode* child = nullptr;
        forEachChild(node, [&](DOMNode* n) {
            if (n->getNodeType() == DOMNode::ELEMENT_NODE && --index == 0) child = n;
            return child == nullptr;
        });
        if (!child) return nullptr;
        node = child;
        p = end + 1;
    }
    return node;
}

std::pair<std::u16string, std::u16string> idAttribute(const std::string& name) {
    std::u16string uri, local = fromUtf8(name, "name");
    if (!local.empty() && local[0] == u'{') {
        std::size_t close = local.find(u'}');
        if (close == std::u16string::npos) throw UsageError{"invalid name '" + name + "'"};
        uri = local.substr(1, close - 1);
        local.erase(0, close + 1);
    }
    if (local.empty()) throw UsageError{"invalid name '" + name + "'"};
    return {uri, local};
}

namespace {

bool named(const XMLCh* s, const std::u16string& text) {
    return text.empty() ? !s || !*s : s && text == s;
}

// Registers `a` as an ID attribute of `element`. The elements of an entity reference are
// read-only in the DOM, which the registration respects; their mark is lifted around it, since
// it changes nothing but the document's table of IDs.
void registerId(Ambrite::XML::DOMElement* element, Ambrite::XML::DOMAttr* a) {
    auto* impl = dynamic_cast<xercesc::DOMElementImpl*>(element);
    const bool readOnly = impl && impl->fNode.isReadOnly();
    if (readOnly) impl->fNode.isReadOnly(false);
    try {
        Ambrite::XML::AMXML_Element_setIdAttributeNode(element, a);
    } catch (...) {
        if (readOnly) impl->fNode.isReadOnly(true);
        throw;
    }
    if (readOnly) impl->fNode.isReadOnly(true);
}

}  // namespace

void registerIds(Ambrite::XML::DOMDocument* document, const IdAttributes& names,
                 const std::function<void(Ambrite::XML::DOMNode*)>& visit) {
    using Ambrite::XML::DOMAttr;
    using Ambrite::XML::DOMNode;
    namespace internal = Ambrite::XML::internal;
    std::unordered_map<std::u16string, DOMNode*> carriers;
    internal::Walker<internal::NoData, true> walk(document);
    walk.descend();
    while (walk.next()) {
        DOMNode* node = walk.node();
        if (!walk.entering() || node->getNodeType() != DOMNode::ELEMENT_NODE) continue;
        if (visit) visit(node);
        xercesc::DOMNamedNodeMap* attributes = node->getAttributes();
        for (XMLSize_t i = 0, n = attributes->getLength(); i < n; ++i) {
            DOMAttr* a = static_cast<DOMAttr*>(attributes->item(i));
            for (std::size_t k = 0; k < names.size() && !a->isId(); ++k) {
                if (named(a->getNamespaceURI(), names[k].first) &&
                    named(a->getLocalName(), names[k].second)) {
                    registerId(static_cast<Ambrite::XML::DOMElement*>(node), a);
                }
            }
            if (!a->isId()) continue;
            const XMLCh* value = internal::attributeValue(a);
            if (carriers.emplace(value, node).first->second != node) {
                throw Exception(13006, Format("More than one element with ID %S", value));
            }
        }
        walk.descend();
    }
}

std::u16string fromUtf8(const std::string& text, const char* what) {
    try {
        xercesc::TranscodeFromStr wide(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                       "UTF-8");
        return std::u16string(wide.str(), wide.length());
    } catch (const xercesc::XMLException&) {
        throw UsageError{std::string(what) + " '" + text + "' is not UTF-8"};
    }
}

namespace {

using Ambrite::XML::DOMNode;

// Paths of nodes as other tools read them; the children of each parent are numbered once.
class NodePaths {
public:
    std::u16string path(DOMNode* n) {
        std::u16string out;
        if (n->getNodeType() == DOMNode::ATTRIBUTE_NODE) {
            out = path(static_cast<Ambrite::XML::DOMAttr*>(n)->getOwnerElement());
            out += u"/@";
            out += n->getNodeName();
            return out;
        }
        std::vector<DOMNode*> chain;
        for (DOMNode* c = n; c && c->getNodeType() != DOMNode::DOCUMENT_NODE; c = parentOf(c)) {
            chain.push_back(c);
        }
        if (chain.empty()) return u"/";
        for (std::size_t i = chain.size(); i-- > 0;) {
            DOMNode* c = chain[i];
            const std::u16string k = number(index(parentOf(c), c));
            switch (c->getNodeType()) {
                case DOMNode::ELEMENT_NODE:
                    out += u"/" + k;
                    break;
                case DOMNode::COMMENT_NODE:
                    out += u"/comment()[" + k + u"]";
                    break;
                case DOMNode::PROCESSING_INSTRUCTION_NODE:
                    out += u"/processing-instruction()[" + k + u"]";
                    break;
                default:
                    out += u"/text()[" + k + u"]";
                    break;
            }
        }
        return out;
    }

private:
    static DOMNode* parentOf(DOMNode* n) {
        DOMNode* p = n->getParentNode();
        while (p && p->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE) p = p->getParentNode();
        return p;
    }

    static std::u16string number(unsigned int k) {
        std::string digits = std::to_string(k);
        return std::u16string(digits.begin(), digits.end());
    }

    // The position of `child` among the children of its kind (text and CDATA sections are one).
    unsigned int index(DOMNode* parent, DOMNode* child) {
        std::unordered_map<DOMNode*, unsigned int>& indexes = indexes_[parent];
        if (indexes.empty() && parent) {
            unsigned int counts[4] = {0, 0, 0, 0};
            forEachChild(parent, [&](DOMNode* c) {
                switch (c->getNodeType()) {
                    case DOMNode::ELEMENT_NODE:
                        indexes[c] = ++counts[0];
                        break;
                    case DOMNode::COMMENT_NODE:
                        indexes[c] = ++counts[1];
                        break;
                    case DOMNode::PROCESSING_INSTRUCTION_NODE:
                        indexes[c] = ++counts[2];
                        break;
                    default:
                        indexes[c] = ++counts[3];
                        break;
                }
                return true;
            });
        }
        return indexes[child];
    }

    std::unordered_map<DOMNode*, std::unordered_map<DOMNode*, unsigned int>> indexes_;
};

}  // namespace

void writeNodeSet(Ambrite::XML::XPath::Iterator* nodes, Ambrite::XML::CharacterSink& out) {
    std::unique_ptr<Ambrite::XML::XPath::Iterator> ordered(
        Ambrite::XML::XPathUtil::documentOrder(nodes));
    NodePaths paths;
    out.write(u"nodeset\n", 8);
    while (ordered->hasNext()) {
        const std::u16string path = paths.path(ordered->next()) + u"\n";
        out.write(path.data(), static_cast<unsigned int>(path.size()));
    }
}

std::u16string nodePath(Ambrite::XML::DOMNode* node) { return NodePaths().path(node); }

int runCommand(const char* name, const char* usage, const std::function<int()>& body) {
    try {
        return body();
    } catch (const Exception& e) {
        std::fflush(stdout);
        std::ostringstream text;
        text << e;
        std::cerr << printable(text.str(), true) << std::endl;
        return FAILURE;
    } catch (const ToolError& e) {
        std::fflush(stdout);
        std::cerr << "amxml " << name << ": " << printable(e.message, false) << std::endl;
        return FAILURE;
    } catch (const UsageError& e) {
        std::cerr << "amxml " << name << ": " << printable(e.message, false) << "\n"
                  << usage << std::flush;
        return USAGE;
    }
}

}  // namespace amxml
