#include <ambrite/xml/dom.h>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>

namespace Ambrite {
namespace XML {

DOMUtil::Init::Init() {
    try {
        xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr,
                                              nullptr, nullptr);
    } catch (...) {
        throw Exception(8, "Initialization failed");
    }
}

DOMUtil::Init::~Init() { xercesc::XMLPlatformUtils::Terminate(); }

DocumentRefCount::DocumentRefCount(DOMDocument* document, unsigned int initial)
    : RefCount(initial), document_(document) {}

DocumentRefCount::~DocumentRefCount() {
    if (document_) document_->release();
}

}  // namespace XML
}  // namespace Ambrite
