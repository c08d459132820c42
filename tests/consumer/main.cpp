// Uses the installed headers and library, Xerces-C included; exits 0 when the output is right.
#include <ambrite/xml/dom.h>
#include <ambrite/xml/foundation.h>

#include <iostream>
#include <sstream>

int main() {
    using namespace Ambrite::XML;
    std::ostringstream out;
    {
        DOMUtil::Init init;
        StringBuffer b(0);
        b.append(u"consumer");
        out << Exception("main.cpp", 1, 12, Format("%S %d", static_cast<const XMLCh*>(b), 42));
    }
    const std::string expected = "Ambrite::XML::Exception 12: consumer 42 (in main.cpp line 1)";
    if (out.str() != expected) {
        std::cerr << "unexpected: " << out.str() << "\n";
        return 1;
    }
    std::cout << "consumer ok\n";
    return 0;
}
