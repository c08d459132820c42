// The fixed document and bindings of the XPath fuzz targets: a parsed document, its context nodes
// in document order, the prefixes in scope of its innermost element, here(), four variables
// ($v a string, $n a number, $b a boolean, $s the context nodes in reverse) and a visit budget.
#pragma once

#include <ambrite/xml/dom.h>
#include <ambrite/xml/xpath.h>

#include <memory>
#include <vector>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMNodeList.hpp>

namespace fuzz {

using namespace Ambrite::XML;

struct XPathFixture {
    std::unique_ptr<DOMUtil::Init> init;
    DOMDocument* document = nullptr;
    std::vector<DOMNode*> contexts;  // what `contextNodes` selects, in document order
    XPath::BindingMap map;
    XPath::Variable text{u"i1 i2"}, number{2.0}, yes{true};
    std::unique_ptr<XPath::Variable> nodes;
    XPath::Budget budget;

    // here() is the document element, or with `hereInTheMiddle` the middle element in document
    // order.
    XPathFixture(const char* xml, std::size_t length, const XMLCh* contextNodes,
                 bool hereInTheMiddle, unsigned long long visits)
        : init(new DOMUtil::Init), budget(visits) {
        BlockSource source(new Block(xml, length, Block::Reference));
        document = DOMUtil::parse(&source);
        std::unique_ptr<XPath> every(XPathParser::parse(contextNodes));
        std::unique_ptr<XPath::Iterator> it(every->nodeSet(document, 1, map));
        std::unique_ptr<XPath::Iterator> ordered(XPathUtil::documentOrder(it.get()));
        while (ordered->hasNext()) contexts.push_back(ordered->next());
        xercesc::DOMNodeList* all = document->getElementsByTagName(u"*");
        nodes.reset(new XPath::Variable(std::vector<DOMNode*>(contexts.rbegin(), contexts.rend())));
        DOMNode* here =
            hereInTheMiddle ? all->item(all->getLength() / 2) : document->getDocumentElement();
        XPath::init(map, here, all->item(all->getLength() - 1));
        map[u"$v"] = &text;
        map[u"$n"] = &number;
        map[u"$b"] = &yes;
        map[u"$s"] = nodes.get();
        map[XPath::Budget::key()] = &budget;
    }
    ~XPathFixture() {
        for (const XMLCh* key : {u"$v", u"$n", u"$b", u"$s", XPath::Budget::key()})
            map.erase(map.find(key));
        XPath::init(map, nullptr, nullptr);
        DocumentRelease()(document);
    }
};

}  // namespace fuzz
