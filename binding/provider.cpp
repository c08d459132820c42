#include <ambrite/xml/binding.h>

namespace Ambrite {
namespace XML {

Algorithm::~Algorithm() {}

ElementFactory::~ElementFactory() {}

const QualifiedName* ElementFactory::parent() const { return nullptr; }

Type::~Type() {}

Key::~Key() {}

Provider::Provider() : Support(0) {}

Provider::Provider(const Provider& other)
    : Support(other), algorithms_(other.algorithms_), elements_(other.elements_) {}

Provider& Provider::operator=(const Provider& other) {
    Support::operator=(other);
    algorithms_ = other.algorithms_;
    elements_ = other.elements_;
    return *this;
}

Provider::~Provider() {}

// The key is replaced along with the value: the caller may release the first key once it has
// registered an equal one.
void Provider::algorithm(const XMLCh* uri, const Algorithm* algorithm) {
    auto it = algorithms_.findOrInsert(AlgorithmMap::Pair(const_cast<XMLCh*>(uri), algorithm));
    it->key = const_cast<XMLCh*>(uri);
    it->value = algorithm;
}

void Provider::element(const QualifiedName* name, const ElementFactory* factory) {
    auto it = elements_.findOrInsert(ElementMap::Pair(name, factory));
    it->key = name;
    it->value = factory;
}

}  // namespace XML
}  // namespace Ambrite
