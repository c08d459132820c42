// amxml xpath: the value of an XPath 1.0 expression on a document, written as its type on one
// line and then the value, in a form other tools read.
#include <ambrite/xml/dom.h>
#include <ambrite/xml/streams.h>
#include <ambrite/xml/xpath.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>
#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "tool.h"

namespace amxml {

namespace {

using Ambrite::XML::AMXMLDelete;
using Ambrite::XML::DOMDocument;
using Ambrite::XML::DOMNode;
using Ambrite::XML::UTF8Sink;
using Ambrite::XML::XPath;
using Ambrite::XML::XPathParser;
using Ambrite::XML::XPathUtil;

const char kUsage[] =
    "usage: amxml xpath [--context LOCATOR] [--ns PREFIX=URI]... [--var NAME=STRING]...\n"
    "                   [--max-visits N] [--max-depth N] [--max-memory SIZE] EXPR [FILE|-]\n"
    "\n"
    "Parses FILE (standard input when FILE is - or absent), evaluates the XPath 1.0 expression\n"
    "EXPR and writes the type of its value on the first line (boolean, number, string or\n"
    "nodeset), then the value: true or false; the number as XPath writes it; the string; or the\n"
    "selected nodes in document order, one path per line.\n"
    "\n"
    "  --context LOCATOR  the context node: an element child sequence, or / for the document\n"
    "                     (default: the document element)\n"
    "  --ns PREFIX=URI    bind a namespace prefix (may be repeated)\n"
    "  --var NAME=STRING  bind the variable $NAME to a string (may be repeated)\n"
    "  --max-visits N     fail once the axes have visited more than N "
    "nodes\n" AMXML_LIMIT_OPTIONS_USAGE
    "  --help             show this text\n"
    "\n"
    "A path is / for the document; /1/3/2 for an element (the second element child of the\n"
    "third element child of the document element); the element's path and /@NAME for an\n"
    "attribute; the parent's path (empty for the document) and /text()[K], /comment()[K] or\n"
    "/processing-instruction()[K] for the K-th child of that kind (CDATA sections count as\n"
    "text). Children of entity references count as children of the reference's parent. An\n"
    "expression that begins with - goes after --.\n";

typedef std::unique_ptr<XMLCh, AMXMLDelete> String;

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

// "NAME=VALUE" split at the first "="; NAME must not be empty.
void split(const std::string& option, const std::string& value, std::u16string& name,
           std::u16string& rest) {
    const std::size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0) {
        throw UsageError{"option " + option + " needs NAME=VALUE, not '" + value + "'"};
    }
    name = fromUtf8(value.substr(0, eq), "name");
    rest = fromUtf8(value.substr(eq + 1), "value");
}

}  // namespace

int xpathCommand(int argc, char** argv) {
    return runCommand("xpath", kUsage, [argc, argv]() {
        std::string context, value, maxVisits;
        std::vector<std::pair<std::u16string, std::u16string>> prefixes, variables;
        std::vector<std::string> operands;
        ParseLimits limits;
        bool options = true;
        for (int i = 0; i < argc; ++i) {
            const char* arg = argv[i];
            if (!options || arg[0] != '-' || arg[1] == 0) {
                operands.push_back(arg);
            } else if (std::strcmp(arg, "--") == 0) {
                options = false;
            } else if (isHelp(arg)) {
                std::fputs(kUsage, stdout);
                return int(SUCCESS);
            } else if (optionValue(argc, argv, i, "--context", value)) {
                context = value.empty() ? "''" : value;
            } else if (optionValue(argc, argv, i, "--ns", value)) {
                prefixes.emplace_back();
                split("--ns", value, prefixes.back().first, prefixes.back().second);
            } else if (optionValue(argc, argv, i, "--var", value)) {
                variables.emplace_back();
                split("--var", value, variables.back().first, variables.back().second);
            } else if (limits.option(argc, argv, i)) {
            } else if (optionValue(argc, argv, i, "--max-visits", maxVisits)) {
                if (maxVisits.empty() || maxVisits.size() > 19 ||
                    maxVisits.find_first_not_of("0123456789") != std::string::npos) {
                    throw UsageError{"invalid --max-visits '" + maxVisits + "'"};
                }
            } else {
                throw UsageError{std::string("unknown option '") + arg + "'"};
            }
        }
        if (operands.empty()) throw UsageError{"no expression given"};
        if (operands.size() > 2) throw UsageError{"only one input may be given"};

        std::unique_ptr<XPath> expression(
            XPathParser::parse(fromUtf8(operands[0], "expression").c_str()));
        auto document = parseInput(operands.size() == 2 ? operands[1].c_str() : nullptr, limits);
        DOMNode* node = document->getDocumentElement();
        if (context == "/") {
            node = document.get();
        } else if (!context.empty()) {
            node = locate(document.get(), context);
            if (!node) throw ToolError{"no element at " + context};
        }

        // The map keeps pointers to its keys, which live in `keys`; it owns nothing.
        XPath::BindingMap map;
        std::deque<std::u16string> keys;
        std::vector<std::unique_ptr<XPath::Binding>> bindings;
        auto bind = [&](const std::u16string& key, XPath::Binding* binding) {
            bindings.emplace_back(binding);
            keys.push_back(key);
            map[keys.back().c_str()] = binding;
        };
        for (const auto& p : prefixes) bind(p.first, new XPath::Namespace(p.second.c_str()));
        for (const auto& v : variables) bind(u"$" + v.first, new XPath::Variable(v.second.c_str()));
        if (!maxVisits.empty()) {
            bind(XPath::Budget::key(), new XPath::Budget(std::stoull(maxVisits)));
        }

        StdoutSink out;
        UTF8Sink text(out);
        auto line = [&](const std::u16string& s) {
            text.write(s.data(), static_cast<unsigned int>(s.size()));
            text.write(u"\n", 1);
        };
        switch (expression->type(map)) {
            case XPath::BOOLEAN:
                line(u"boolean");
                line(expression->boolean(node, 1, map) ? u"true" : u"false");
                break;
            case XPath::NUMBER: {
                String number(XPathUtil::string(expression->number(node, 1, map)));
                line(u"number");
                line(number.get());
                break;
            }
            case XPath::STRING: {
                String s(expression->string(node, 1, map));
                line(u"string");
                line(s ? s.get() : u"");
                break;
            }
            case XPath::NODE_SET: {
                std::unique_ptr<XPath::Iterator> nodes(expression->nodeSet(node, 1, map));
                std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(nodes.get()));
                NodePaths paths;
                line(u"nodeset");
                while (ordered->hasNext()) line(paths.path(ordered->next()));
                break;
            }
        }
        text.close();
        return int(SUCCESS);
    });
}

}  // namespace amxml
