// The container instantiations that are part of the library's interface.
#include <ambrite/xml/foundation.h>

namespace Ambrite {
namespace XML {

template class MySet<const XMLCh*, StringComparator>;
template class MySet<MyPair<const XMLCh*, const XMLCh*>,
                     KeyComparator<MyPair<const XMLCh*, const XMLCh*>, StringComparator>>;
template class MyMap<const XMLCh*, const XMLCh*, StringComparator>;

}  // namespace XML
}  // namespace Ambrite
