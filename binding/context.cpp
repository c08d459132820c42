#include <ambrite/xml/binding.h>

namespace Ambrite {
namespace XML {

Support::~Support() {}

Transient::~Transient() {}

Context::Context(Type type) : Support(1), type_(type) {}

Context::~Context() {
    for (Transient* transient : transients_) delete transient;
}

void Context::install(Support* support) { supports_[support->identifier()] = support; }

Support* Context::lookup(int identifier) const {
    auto it = supports_.find(identifier);
    return it == supports_.end() ? nullptr : it->value;
}

void Context::tbd(Transient* transient) {
    try {
        transients_.push_back(transient);
    } catch (...) {
        delete transient;
        throw;
    }
}

DecodeContext::DecodeContext() : Context(DECODE), lazyDecode_(false), depth_(0) {}

}  // namespace XML
}  // namespace Ambrite
